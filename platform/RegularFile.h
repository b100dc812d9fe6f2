#pragma once
// Reading a small file of the program folder whole, as a file and nothing else. Someone may leave
// a device, a named pipe or a folder where the program expects a file it wrote; reading one of
// those would never end (a device streams forever, a pipe's open waits for a writer). So a path
// is read only when it leads to a regular file (a link to one is followed), no larger than the
// caller's bound, and opening never waits.
//
// Knows: file kinds and sizes. Must not know: what the bytes mean. Untrusted: the path's target
// (any kind, any size, changing between looking and opening).
#include <QByteArray>
#include <QString>

namespace regularfile {

enum class Read {
    Done,        // bytes hold the whole file
    Missing,     // nothing at the path (a link to nothing counts as something: NotRegular)
    NotRegular,  // a folder, device, pipe, socket or a link to nothing; error says which
    TooLarge,    // more than maxBytes; error says so
    Failed,      // it could not be opened or read; error says why
};

// Reads the file at path into bytes (replacing them). On anything but Done, error says what is
// wrong, starting with the path ("/x/set.ini is a named pipe, not a file"), and bytes are empty.
Read readWhole(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error);

} // namespace regularfile
