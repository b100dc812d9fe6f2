#pragma once
// The error of reading/: a limits file the system refused to write; the message names the file.
#include "platform/Exception.h"

namespace reading {

class ERangesError : public Exception {
public:
    using Exception::Exception;
};

} // namespace reading
