#include "report/generation/RpItemPrint.h"
