#pragma once
// The engine's error type and its field types: the bottom of the engine, which every other
// engine unit and every caller may include without taking in the data sets.
//
// Knows: the program's error type. Must not know: files, statements, data sets.
// Untrusted: nothing; these are declarations.
#include "platform/Exception.h"

// Every error the engine raises. The message is the engine's or the framework's text, e.g.
// "Table1: Cannot perform this operation on a closed dataset".
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

enum class TFieldType { String, Date, Float, Integer, Boolean, Memo };
