#include "report/pages/RpStream.h"

#include "report/pages/RpError.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cstring>

TRpStream::TRpStream(qint64 memoryLimit) : memoryLimit_(memoryLimit) {}

TRpStream::~TRpStream()
{
    // QTemporaryFile removes its file on destruction; a report file is only closed.
    if (file_)
        file_->close();
}

std::unique_ptr<TRpStream> TRpStream::openForReading(const QString& fileName)
{
    std::unique_ptr<TRpStream> s(new TRpStream(0));
    s->inMemory_ = false;
    s->readOnly_ = true;
    s->memoryLimit_ = 0;
    s->fileName_ = fileName;
    s->file_ = std::make_unique<QFile>(fileName);
    // Unbuffered: the store reads a few link fields and then whole pages; read-ahead after every
    // seek would copy a block that the next seek throws away.
    if (!s->file_->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw ERpError(QStringLiteral("Cannot open report file %1: %2").arg(fileName, s->file_->errorString()));
    return s;
}

qint64 TRpStream::readUnlocked(void* buffer, qint64 count)
{
    if (count <= 0)
        return 0;
    if (inMemory_) {
        const qint64 available = std::max<qint64>(0, memory_.size() - memoryPos_);
        const qint64 n = std::min(count, available);
        if (n > 0)
            std::memcpy(buffer, memory_.constData() + memoryPos_, static_cast<size_t>(n));
        memoryPos_ += n;
        return n;
    }
    QIODevice* dev = tempFile_ ? static_cast<QIODevice*>(tempFile_.get()) : file_.get();
    const qint64 n = dev->read(static_cast<char*>(buffer), count);
    return std::max<qint64>(0, n);
}

qint64 TRpStream::Read(void* buffer, qint64 count)
{
    std::lock_guard guard(lock_);
    return readUnlocked(buffer, count);
}

qint64 TRpStream::Write(const void* buffer, qint64 count)
{
    std::lock_guard guard(lock_);
    if (readOnly_)
        throw ERpError(QStringLiteral("Report file %1 is open for reading only").arg(fileName_));
    if (count <= 0)
        return 0;
    if (inMemory_) {
        const qint64 end = memoryPos_ + count;
        if (end > memory_.size()) {
            // Grow geometrically: appending page after page must not copy the buffer each time.
            if (end > memory_.capacity())
                memory_.reserve(static_cast<qsizetype>(std::max(end, memory_.capacity() * 2)));
            const qsizetype old = memory_.size();
            memory_.resize(static_cast<qsizetype>(end));
            if (memoryPos_ > old)
                std::memset(memory_.data() + old, 0, static_cast<size_t>(memoryPos_ - old));
        }
        std::memcpy(memory_.data() + memoryPos_, buffer, static_cast<size_t>(count));
        memoryPos_ = end;
        if (memoryLimit_ > 0 && memory_.size() > memoryLimit_)
            moveToFile();
        return count;
    }
    QIODevice* dev = tempFile_ ? static_cast<QIODevice*>(tempFile_.get()) : file_.get();
    const qint64 n = dev->write(static_cast<const char*>(buffer), count);
    if (n != count)
        throw ERpError(QStringLiteral("Cannot write %1 bytes to the page store file %2: %3")
                           .arg(count)
                           .arg(fileName_, dev->errorString()));
    return n;
}

void TRpStream::moveToFile()
{
    auto temp = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/HRPXXXXXX.tmp"));
    temp->setAutoRemove(true);
    // QTemporaryFile's open with a mode is reached through QFile, where it is public.
    if (!static_cast<QFile*>(temp.get())->open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        throw ERpError(QStringLiteral("Cannot create a temporary page store file in %1: %2")
                           .arg(QDir::tempPath(), temp->errorString()));
    if (temp->write(memory_) != memory_.size())
        throw ERpError(QStringLiteral("Cannot write the page store to the temporary file %1: %2")
                           .arg(temp->fileName(), temp->errorString()));
    // The caller's position is the end of what it just wrote; keep it.
    temp->seek(memoryPos_);
    fileName_ = temp->fileName();
    tempFile_ = std::move(temp);
    memory_ = QByteArray();
    memoryPos_ = 0;
    inMemory_ = false;
}

qint64 TRpStream::seekUnlocked(qint64 offset, TRpSeekOrigin origin)
{
    qint64 base = 0;
    switch (origin) {
    case TRpSeekOrigin::FromBeginning: base = 0; break;
    case TRpSeekOrigin::FromCurrent: base = Position(); break;
    case TRpSeekOrigin::FromEnd: base = Size(); break;
    }
    const qint64 target = std::max<qint64>(0, base + offset);
    if (inMemory_) {
        memoryPos_ = target;
        return memoryPos_;
    }
    QIODevice* dev = tempFile_ ? static_cast<QIODevice*>(tempFile_.get()) : file_.get();
    dev->seek(target);
    return dev->pos();
}

qint64 TRpStream::Seek(qint64 offset, TRpSeekOrigin origin)
{
    std::lock_guard guard(lock_);
    return seekUnlocked(offset, origin);
}

qint64 TRpStream::Position() const
{
    std::lock_guard guard(lock_);
    if (inMemory_)
        return memoryPos_;
    return tempFile_ ? tempFile_->pos() : file_->pos();
}

qint64 TRpStream::Size() const
{
    std::lock_guard guard(lock_);
    if (inMemory_)
        return memory_.size();
    return tempFile_ ? tempFile_->size() : file_->size();
}

bool TRpStream::InMemory() const
{
    std::lock_guard guard(lock_);
    return inMemory_;
}

QString TRpStream::FileName() const
{
    std::lock_guard guard(lock_);
    return fileName_;
}

qint64 TRpStream::CopyTo(TRpStream& target)
{
    std::lock_guard guard(lock_);
    seekUnlocked(0, TRpSeekOrigin::FromBeginning);
    QByteArray block(static_cast<qsizetype>(kCopyBlock), Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 n = readUnlocked(block.data(), kCopyBlock);
        if (n <= 0)
            break;
        target.Write(block.constData(), n);
        total += n;
    }
    return total;
}

void TRpStream::SaveToFile(const QString& fileName)
{
    std::lock_guard guard(lock_);
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly))
        throw ERpError(QStringLiteral("Cannot create report file %1: %2").arg(fileName, out.errorString()));
    seekUnlocked(0, TRpSeekOrigin::FromBeginning);
    QByteArray block(static_cast<qsizetype>(kCopyBlock), Qt::Uninitialized);
    for (;;) {
        const qint64 n = readUnlocked(block.data(), kCopyBlock);
        if (n <= 0)
            break;
        if (out.write(block.constData(), n) != n)
            throw ERpError(QStringLiteral("Cannot write report file %1: %2").arg(fileName, out.errorString()));
    }
    if (!out.commit())
        throw ERpError(QStringLiteral("Cannot write report file %1: %2").arg(fileName, out.errorString()));
}

QByteArray TRpStream::ReadAll()
{
    std::lock_guard guard(lock_);
    const qint64 pos = Position();
    seekUnlocked(0, TRpSeekOrigin::FromBeginning);
    QByteArray all(static_cast<qsizetype>(Size()), Qt::Uninitialized);
    const qint64 n = readUnlocked(all.data(), all.size());
    all.truncate(static_cast<qsizetype>(n));
    seekUnlocked(pos, TRpSeekOrigin::FromBeginning);
    return all;
}
