#pragma once
// Errors of the page recorder, the page store and saved report files. They reach the user through
// the standard error box with their own text, so every message names what failed and on what.
#include "platform/Exception.h"

class ERpError : public Exception {
public:
    using Exception::Exception;
};
