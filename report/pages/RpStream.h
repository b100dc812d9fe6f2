#pragma once
// Byte stream of the page store: in memory while small, in a temporary file once it has grown past
// its memory limit, or on a saved report file opened for reading. Every read, write and seek, and a
// whole copy, runs under the stream's lock so that a page read never interleaves with an append.
#include <QByteArray>
#include <QString>
#include <memory>
#include <mutex>

class QFile;
class QTemporaryFile;

enum class TRpSeekOrigin { FromBeginning, FromCurrent, FromEnd };

class TRpStream {
public:
    // Memory limit of a recording stream.
    static constexpr qint64 kDefaultMemoryLimit = 100000;
    // Block size of a whole-stream copy.
    static constexpr qint64 kCopyBlock = 10240;

    // A stream in memory; once its size exceeds memoryLimit bytes it moves to a temporary file.
    // A limit of 0 or less keeps it in memory for good.
    explicit TRpStream(qint64 memoryLimit = kDefaultMemoryLimit);
    // A stream on an existing file, read-only; the file is never deleted. Throws ERpError when the
    // file cannot be opened.
    static std::unique_ptr<TRpStream> openForReading(const QString& fileName);
    // Closes the file; a temporary file is deleted.
    ~TRpStream();
    TRpStream(const TRpStream&) = delete;
    TRpStream& operator=(const TRpStream&) = delete;

    // Bytes read; fewer than count at the end of the stream.
    qint64 Read(void* buffer, qint64 count);
    // Bytes written. Throws ERpError when the temporary file cannot be created or written, or the
    // stream is read-only.
    qint64 Write(const void* buffer, qint64 count);
    // New position; negative results are clamped to 0.
    qint64 Seek(qint64 offset, TRpSeekOrigin origin);

    qint64 Position() const;
    qint64 Size() const;

    // Copies the whole stream, from its start, onto target in blocks of kCopyBlock bytes; the
    // stream stays locked for the whole copy. Returns the bytes copied.
    qint64 CopyTo(TRpStream& target);
    // The same copy into a file, replacing it only once the copy is complete. Throws ERpError.
    void SaveToFile(const QString& fileName);

    bool InMemory() const;
    bool ReadOnly() const { return readOnly_; }
    // Path of the temporary file after the move, or of the report file; empty while in memory.
    QString FileName() const;
    qint64 MemoryLimit() const { return memoryLimit_; }

    // The whole content (tests and small streams).
    QByteArray ReadAll();

private:
    void moveToFile();
    qint64 readUnlocked(void* buffer, qint64 count);
    qint64 seekUnlocked(qint64 offset, TRpSeekOrigin origin);

    mutable std::recursive_mutex lock_;
    bool inMemory_ = true;
    bool readOnly_ = false;
    QByteArray memory_;
    qint64 memoryPos_ = 0;
    std::unique_ptr<QFile> file_;
    std::unique_ptr<QTemporaryFile> tempFile_;
    QString fileName_;
    qint64 memoryLimit_ = kDefaultMemoryLimit;
};
