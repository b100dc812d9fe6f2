#include "report/generation/RpGenerator.h"
