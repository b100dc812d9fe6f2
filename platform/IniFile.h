#pragma once
// The settings file: an initialisation file of sections and keys, read and written with the
// semantics the program has always relied on. Every call opens the file afresh; nothing is cached.
//
// Untrusted: the file (any kind, size and bytes). It is read only when it is a regular file (or a
// link to one) of at most kMaxFileSize bytes; anything else reads as a missing file and is never
// written over.
#include "platform/Exception.h"

#include <QString>

// A write that the system refused; the message is "Unable to write to <full path>".
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class IniFile {
public:
    // Values are read through a buffer of this many characters, one kept for the terminator.
    static constexpr int kMaxValueLength = 2047;
    // Four keys take a few lines; a file past this is not settings.
    static constexpr qint64 kMaxFileSize = 1024 * 1024;

    explicit IniFile(QString fileName) : fileName_(std::move(fileName)) {}
    const QString& fileName() const { return fileName_; }

    // The value of key in section (both matched without regard to case), surrounding blanks
    // and one pair of enclosing quotes removed, cut to kMaxValueLength characters; def when the
    // file, the section or the key is missing, and when the file cannot be read as one.
    QString readString(const QString& section, const QString& key, const QString& def) const;

    // Sets key in section, creating the file, the section and the key as needed; every other
    // line stays byte for byte as it was (but for a file in the old code page that would read as
    // UTF-8 once the line is replaced: it is rewritten in UTF-8, each line keeping its meaning). The file is replaced whole (a new file renamed over
    // it), so a crash leaves either the old or the new file. Raises EIniFileException, also when
    // something that cannot be read as a settings file is in its place.
    void writeString(const QString& section, const QString& key, const QString& value) const;

private:
    QString fileName_;
};
