#pragma once
// The export's error type, at the bottom of export/ so that every unit of it can raise it: a file
// that could not be written (named, with the system's cause) or a name whose extension names no
// format the export writes.
#include "platform/Exception.h"

class EExportError : public Exception {
public:
    using Exception::Exception;
};
