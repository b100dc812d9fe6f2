#include "report/pages/RpPageList.h"

#include "report/units/NativeUnits.h"

#include "platform/canvas/EmfFormat.h"
#include "platform/canvas/EmfPlayer.h"
#include "report/pages/PaperSize.h"
#include "report/pages/RpCompress.h"
#include "report/pages/RpError.h"
#include "report/pages/RpStream.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstring>

namespace {

constexpr qint64 kHeaderSize = TRpFileHeader::kSize;
// Fixed part of a metafile header up to and including nBytes, nRecords, nHandles... (88 bytes is
// the smallest header the format allows).
constexpr qint64 kMinMetafile = 88;
constexpr qint64 kRecordOverhead = 12;

qint32 getI32(const char* p) { return qFromLittleEndian<qint32>(p); }

void putI32(QByteArray& out, qint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

QString describeStream(const TRpStream& s)
{
    const QString name = s.FileName();
    return name.isEmpty() ? QStringLiteral("the page store") : QStringLiteral("report file %1").arg(name);
}

// Checks the start of a metafile: header record, signature and the stored total size.
// Returns an empty string when fine, otherwise what is wrong.
QString checkMetafileHead(const char* data, qint64 available, qint64 expectedSize)
{
    if (available < kMinMetafile)
        return QStringLiteral("%1 bytes are too few for a metafile").arg(available);
    const auto* p = reinterpret_cast<const uchar*>(data);
    if (emf::loadU32(p) != emf::EMR_HEADER)
        return QStringLiteral("the page is no enhanced metafile (first record type %1)").arg(emf::loadU32(p));
    const quint32 headerSize = emf::loadU32(p + 4);
    if (headerSize < kMinMetafile || headerSize % 4 != 0 || headerSize > expectedSize)
        return QStringLiteral("the metafile header size %1 is invalid").arg(headerSize);
    if (emf::loadU32(p + 40) != emf::kSignature)
        return QStringLiteral("the metafile signature is missing");
    const quint32 nBytes = emf::loadU32(p + 48);
    if (static_cast<qint64>(nBytes) != expectedSize)
        return QStringLiteral("the metafile says it is %1 bytes long but its record holds %2")
            .arg(nBytes)
            .arg(expectedSize);
    return {};
}

} // namespace

// ---------------------------------------------------------------------------------------------

TRpPageImage::TRpPageImage(QByteArray bytes) : bytes_(std::move(bytes))
{
    const QString trouble = checkMetafileHead(bytes_.constData(), bytes_.size(), bytes_.size());
    if (!trouble.isEmpty())
        throw ERpError(QStringLiteral("Invalid page image: %1").arg(trouble));
    const auto* p = reinterpret_cast<const uchar*>(bytes_.constData());
    frame_ = QRect(QPoint(emf::loadI32(p + 24), emf::loadI32(p + 28)),
                   QPoint(emf::loadI32(p + 32), emf::loadI32(p + 36)));
    // A report page is a sheet of paper drawn on a real screen: its sides lie between 1 mm and
    // those of the largest paper, and its reference device between 12 and 2540 pixels per inch.
    // Anything else is a damaged page, and playing it would scale fonts and lines to absurd sizes
    // or ask for an image of gigabytes.
    const qint64 fw = static_cast<qint64>(frame_.right()) - frame_.left();
    const qint64 fh = static_cast<qint64>(frame_.bottom()) - frame_.top();
    if (fw < 100 || fh < 100)
        throw ERpError(QStringLiteral("Invalid page image: its frame of %1 x %2 hundredths of a millimetre is no sheet")
                           .arg(fw)
                           .arg(fh));
    const auto longest = static_cast<qint64>(kLargestSheetLongSideMm * 100);
    const auto shortest = static_cast<qint64>(kLargestSheetShortSideMm * 100);
    if (std::max(fw, fh) > longest || std::min(fw, fh) > shortest)
        throw ERpError(QStringLiteral("Invalid page image: its sheet of %1 x %2 mm is larger than any paper (at most %3 x %4 mm)")
                           .arg(double(fw) / 100.0)
                           .arg(double(fh) / 100.0)
                           .arg(kLargestSheetShortSideMm)
                           .arg(kLargestSheetLongSideMm));
    const double px[2] = {static_cast<double>(emf::loadI32(p + 72)), static_cast<double>(emf::loadI32(p + 76))};
    const double mm[2] = {static_cast<double>(emf::loadI32(p + 80)), static_cast<double>(emf::loadI32(p + 84))};
    for (int i = 0; i < 2; ++i) {
        if (!(mm[i] >= 1 && px[i] >= mm[i] * 0.5 && px[i] <= mm[i] * 100))
            throw ERpError(QStringLiteral("Invalid page image: its reference device of %1 x %2 pixels on %3 x %4 mm is no screen")
                               .arg(px[0])
                               .arg(px[1])
                               .arg(mm[0])
                               .arg(mm[1]));
    }
}

int TRpPageImage::Width(double pixelsPerInch) const
{
    const double w = (static_cast<double>(frame_.right()) - frame_.left()) * pixelsPerInch / rpunits::kHundredthsMmPerInch;
    return static_cast<int>(std::lround(std::clamp(w, -1e9, 1e9)));
}

int TRpPageImage::Height(double pixelsPerInch) const
{
    const double h = (static_cast<double>(frame_.bottom()) - frame_.top()) * pixelsPerInch / rpunits::kHundredthsMmPerInch;
    return static_cast<int>(std::lround(std::clamp(h, -1e9, 1e9)));
}

double TRpPageImage::Play(QPainter& painter, const QRectF& target, double workLimit) const
{
    return EmfPlayer::play(bytes_, painter, target, workLimit < 0 ? EmfPlayer::kMaxPageWork : workLimit);
}

// ---------------------------------------------------------------------------------------------

QByteArray TRpFileHeader::encode() const
{
    QByteArray h(kSize, '\0');
    char* d = h.data();
    qToLittleEndian(word0, d);
    qToLittleEndian(word1, d + 2);
    qToLittleEndian(static_cast<qint32>(pageCount), d + 8);
    quint64 bits = 0;
    std::memcpy(&bits, &date, 8);
    qToLittleEndian(bits, d + 16);
    d[25] = compressed ? 1 : 0;
    return h;
}

TRpFileHeader TRpFileHeader::decode(const QByteArray& bytes)
{
    if (bytes.size() < kSize)
        throw ERpError(QStringLiteral("The header needs %1 bytes, only %2 are there").arg(kSize).arg(bytes.size()));
    const char* d = bytes.constData();
    TRpFileHeader h;
    h.word0 = qFromLittleEndian<quint16>(d);
    h.word1 = qFromLittleEndian<quint16>(d + 2);
    h.pageCount = getI32(d + 8);
    const quint64 bits = qFromLittleEndian<quint64>(d + 16);
    std::memcpy(&h.date, &bits, 8);
    // Any value but 0 reads as compressed, as a boolean byte does for other readers of the format.
    h.compressed = d[25] != 0;
    return h;
}

double TRpFileHeader::dateFromQt(const QDateTime& local)
{
    static const QDate epoch(1899, 12, 30);
    const qint64 days = epoch.daysTo(local.date());
    return static_cast<double>(days) + local.time().msecsSinceStartOfDay() / 86400000.0;
}

QDateTime TRpFileHeader::dateToQt(double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 3e6)
        return {};
    static const QDate epoch(1899, 12, 30);
    const double whole = std::floor(days);
    const auto msecs = static_cast<int>(std::lround((days - whole) * 86400000.0));
    return QDateTime(epoch.addDays(static_cast<qint64>(whole)), QTime(0, 0)).addMSecs(msecs);
}

// ---------------------------------------------------------------------------------------------

TRpPageList::TRpPageList() = default;
TRpPageList::~TRpPageList() = default;

void TRpPageList::fail(const QString& what) const
{
    throw ERpError(QStringLiteral("%1: %2").arg(name_, what));
}

void TRpPageList::Start(std::unique_ptr<TRpStream> stream, bool compressed)
{
    std::lock_guard guard(lock_);
    stream_ = std::move(stream);
    compressed_ = compressed;
    pageCount_ = 0;
    lastRecord_ = 0;
    name_ = stream_ ? describeStream(*stream_) : QStringLiteral("the page store");
}

void TRpPageList::ReleaseStream()
{
    std::lock_guard guard(lock_);
    stream_.reset();
    pageCount_ = 0;
    lastRecord_ = 0;
}

void TRpPageList::ResetPageCount()
{
    std::lock_guard guard(lock_);
    pageCount_ = 0;
    lastRecord_ = 0;
}

void TRpPageList::WriteHeader()
{
    if (!stream_)
        return;
    TRpFileHeader h;
    h.pageCount = pageCount_;
    h.compressed = compressed_;
    h.date = TRpFileHeader::dateFromQt(QDateTime::currentDateTime());
    const QByteArray bytes = h.encode();
    stream_->Seek(0, TRpSeekOrigin::FromBeginning);
    stream_->Write(bytes.constData(), bytes.size());
}

void TRpPageList::AddPage(const QByteArray& metafile)
{
    std::lock_guard guard(lock_);
    if (!stream_)
        throw ERpError(QStringLiteral("Cannot store a page: the page store has no stream"));
    const int n = pageCount_ + 1;
    if (n == 1) {
        pageCount_ = n;
        WriteHeader();
    }
    const qint64 start = stream_->Seek(0, TRpSeekOrigin::FromEnd);
    // The record is assembled whole and written at once; the bytes are those of writing the
    // fields one by one and patching the next-record link afterwards.
    QByteArray record;
    if (compressed_) {
        const QByteArray code = TRpCompress::encodeBytes(metafile);
        record.reserve(code.size() + 16);
        putI32(record, n);
        putI32(record, 0);
        putI32(record, static_cast<qint32>(metafile.size()));
        record.append(code);
    } else {
        record.reserve(metafile.size() + 12);
        putI32(record, n);
        putI32(record, 0);
        record.append(metafile);
    }
    putI32(record, static_cast<qint32>(start));
    const qint64 end = start + record.size();
    if (end > kMaxStoreBytes)
        throw ERpError(QStringLiteral("Cannot store page %1: the page store would exceed 2 GB").arg(n));
    qToLittleEndian(static_cast<qint32>(end), record.data() + 4);
    if (stream_->Write(record.constData(), record.size()) != record.size())
        throw ERpError(QStringLiteral("Cannot store page %1 in %2").arg(n).arg(name_));
    pageCount_ = n;
    lastRecord_ = start;
}

qint32 TRpPageList::readI32(const char* field, int page)
{
    char b[4];
    if (stream_->Read(b, 4) != 4)
        fail(QStringLiteral("page %1: the %2 at offset %3 lies past the end")
                 .arg(page)
                 .arg(QLatin1String(field))
                 .arg(stream_->Position()));
    return getI32(b);
}

qint64 TRpPageList::readI32At(qint64 offset, const char* field, int page)
{
    stream_->Seek(offset, TRpSeekOrigin::FromBeginning);
    return readI32(field, page);
}

void TRpPageList::SeekToPage(int n)
{
    std::lock_guard guard(lock_);
    seekToPage(n);
}

void TRpPageList::seekToPage(int n)
{
    if (!stream_ || n < 1 || n > pageCount_)
        fail(QStringLiteral("there is no page %1 (the store holds %2)").arg(n).arg(pageCount_));
    if (n == 1) {
        stream_->Seek(kHeaderSize, TRpSeekOrigin::FromBeginning);
        return;
    }
    if (n == pageCount_) {
        stream_->Seek(lastRecord_, TRpSeekOrigin::FromBeginning);
        return;
    }
    const qint64 size = stream_->Size();
    qint64 pos = stream_->Position();
    if (pos >= size || pos < kHeaderSize)
        pos = lastRecord_;
    stream_->Seek(pos, TRpSeekOrigin::FromBeginning);
    // Forwards along the next-record links or backwards through each record's start field, one
    // record per hop. Every hop must move towards page n; links that loop are caught by the count.
    for (int hops = 0;; ++hops) {
        if (hops > pageCount_)
            fail(QStringLiteral("the record links do not lead to page %1").arg(n));
        const qint32 p = readI32("page number", n);
        if (p == n)
            break;
        if (p < 1 || p > pageCount_) {
            if (hops > 0)
                fail(QStringLiteral("the record at offset %1 has the page number %2").arg(pos).arg(p));
            // Not standing on a record (an earlier read failed half-way): start from the last one.
            pos = stream_->Seek(lastRecord_, TRpSeekOrigin::FromBeginning);
            continue;
        }
        if (p < n) {
            const qint32 next = readI32("next-record link", p);
            if (next <= pos || next > size - kRecordOverhead)
                fail(QStringLiteral("page %1: the next-record link %2 at offset %3 is broken")
                         .arg(p)
                         .arg(next)
                         .arg(pos + 4));
            pos = next;
        } else {
            const qint64 prev = readI32At(pos - 4, "record start", p - 1);
            if (prev < kHeaderSize || prev >= pos)
                fail(QStringLiteral("page %1: the record start %2 at offset %3 is broken")
                         .arg(p - 1)
                         .arg(prev)
                         .arg(pos - 4));
            pos = prev;
        }
        stream_->Seek(pos, TRpSeekOrigin::FromBeginning);
    }
    stream_->Seek(pos, TRpSeekOrigin::FromBeginning);
}

std::unique_ptr<TRpPageImage> TRpPageList::GetPage(int n)
{
    std::lock_guard guard(lock_);
    if (!stream_ || n < 1 || n > pageCount_)
        return nullptr;
    try {
        seekToPage(n);
        const qint64 start = stream_->Position();
        const qint64 size = stream_->Size();
        const qint32 number = readI32("page number", n);
        const qint32 next = readI32("next-record link", n);
        if (number != n)
            fail(QStringLiteral("the record at offset %1 is page %2, not page %3").arg(start).arg(number).arg(n));
        if (next < start + kRecordOverhead || next > size)
            fail(QStringLiteral("page %1: the next-record link %2 at offset %3 is broken").arg(n).arg(next).arg(start + 4));
        const qint64 dataSize = next - start - kRecordOverhead;
        QByteArray page;
        if (!compressed_) {
            if (dataSize > kMaxPageBytes)
                fail(QStringLiteral("page %1 is %2 bytes, more than a page may hold").arg(n).arg(dataSize));
            page.resize(static_cast<qsizetype>(dataSize));
            if (stream_->Read(page.data(), dataSize) != dataSize)
                fail(QStringLiteral("page %1 runs past the end").arg(n));
        } else {
            const qint32 count = readI32("compressed byte count", n);
            const qint64 codeSize = dataSize - 4;
            if (count < 0 || count > kMaxPageBytes || count > codeSize * 8)
                fail(QStringLiteral("page %1: the compressed byte count %2 does not fit its %3 code bytes")
                         .arg(n)
                         .arg(count)
                         .arg(codeSize));
            QByteArray code(static_cast<qsizetype>(codeSize), Qt::Uninitialized);
            if (stream_->Read(code.data(), codeSize) != codeSize)
                fail(QStringLiteral("page %1 runs past the end").arg(n));
            TRpStream codeStream(0);
            codeStream.Write(code.constData(), code.size());
            codeStream.Seek(0, TRpSeekOrigin::FromBeginning);
            try {
                TRpCompress decoder(codeStream, false);
                page = decoder.DecodeBuffer(count);
            } catch (const ERpError& e) {
                fail(QStringLiteral("page %1: %2").arg(n).arg(e.message()));
            }
            // An honest count uses up exactly the code bytes the encoder wrote.
            if (codeStream.Position() != codeSize)
                fail(QStringLiteral("page %1: the compressed byte count %2 does not match its %3 code bytes")
                         .arg(n)
                         .arg(count)
                         .arg(codeSize));
        }
        const qint32 back = readI32("record start", n);
        if (back != start)
            fail(QStringLiteral("page %1: the record start field says %2, the record starts at %3").arg(n).arg(back).arg(start));
        try {
            return std::make_unique<TRpPageImage>(std::move(page));
        } catch (const ERpError& e) {
            fail(QStringLiteral("page %1: %2").arg(n).arg(e.message()));
        }
    } catch (...) {
        // Leave the stream where the next walk can start cleanly.
        stream_->Seek(0, TRpSeekOrigin::FromEnd);
        throw;
    }
}

std::vector<TRpRecordInfo> TRpPageList::checkStructure(TRpStream& stream, const QString& what,
                                                       TRpFileHeader* headerOut)
{
    auto failAt = [&](const QString& msg) -> void { throw ERpError(QStringLiteral("%1: %2").arg(what, msg)); };
    const qint64 size = stream.Size();
    QByteArray head(kHeaderSize, '\0');
    stream.Seek(0, TRpSeekOrigin::FromBeginning);
    const qint64 got = stream.Read(head.data(), kHeaderSize);
    if (got < kHeaderSize)
        failAt(QStringLiteral("%1 bytes are too few for the %2-byte header").arg(got).arg(kHeaderSize));
    const TRpFileHeader header = TRpFileHeader::decode(head);
    if (headerOut)
        *headerOut = header;
    const int count = header.pageCount;
    if (count < 0)
        failAt(QStringLiteral("the header's page count %1 is negative").arg(count));
    const qint64 minRecord = kRecordOverhead + (header.compressed ? 4 : kMinMetafile);
    if (count > 0 && (size - kHeaderSize) / minRecord < count)
        failAt(QStringLiteral("the header says %1 pages, but %2 bytes cannot hold them").arg(count).arg(size));

    std::vector<TRpRecordInfo> records;
    records.reserve(static_cast<size_t>(count));
    qint64 r = kHeaderSize;
    char buf[kMinMetafile];
    for (int i = 1; i <= count; ++i) {
        if (r + kRecordOverhead > size)
            failAt(QStringLiteral("page %1: its record at offset %2 lies past the end (%3 bytes)").arg(i).arg(r).arg(size));
        stream.Seek(r, TRpSeekOrigin::FromBeginning);
        stream.Read(buf, 8);
        const qint32 number = getI32(buf);
        const qint64 next = getI32(buf + 4);
        if (number != i)
            failAt(QStringLiteral("the record at offset %1 says page %2 where page %3 belongs").arg(r).arg(number).arg(i));
        if (next < r + minRecord || next > size)
            failAt(QStringLiteral("page %1: the next-record link %2 at offset %3 points outside the file (%4 bytes)")
                       .arg(i)
                       .arg(next)
                       .arg(r + 4)
                       .arg(size));
        stream.Seek(next - 4, TRpSeekOrigin::FromBeginning);
        stream.Read(buf, 4);
        const qint32 back = getI32(buf);
        if (back != r)
            failAt(QStringLiteral("page %1: the record start field at offset %2 says %3, the record starts at %4")
                       .arg(i)
                       .arg(next - 4)
                       .arg(back)
                       .arg(r));
        const qint64 dataSize = next - r - kRecordOverhead;
        stream.Seek(r + 8, TRpSeekOrigin::FromBeginning);
        if (header.compressed) {
            stream.Read(buf, 4);
            const qint32 plain = getI32(buf);
            if (plain < kMinMetafile || plain > kMaxPageBytes || plain > (dataSize - 4) * 8)
                failAt(QStringLiteral("page %1: the compressed byte count %2 does not fit its %3 code bytes")
                           .arg(i)
                           .arg(plain)
                           .arg(dataSize - 4));
        } else {
            if (dataSize > kMaxPageBytes)
                failAt(QStringLiteral("page %1 is %2 bytes, more than a page may hold").arg(i).arg(dataSize));
            stream.Read(buf, kMinMetafile);
            const QString trouble = checkMetafileHead(buf, kMinMetafile, dataSize);
            if (!trouble.isEmpty())
                failAt(QStringLiteral("page %1: %2").arg(i).arg(trouble));
        }
        records.push_back({i, r, next});
        r = next;
    }
    return records;
}

void TRpPageList::LoadFromFile(const QString& fileName)
{
    auto stream = TRpStream::openForReading(fileName);
    const QString what = QStringLiteral("Report file %1").arg(fileName);
    TRpFileHeader header;
    const auto records = checkStructure(*stream, what, &header);
    stream->Seek(0, TRpSeekOrigin::FromEnd);
    std::lock_guard guard(lock_);
    stream_ = std::move(stream);
    compressed_ = header.compressed;
    pageCount_ = header.pageCount;
    lastRecord_ = records.empty() ? 0 : records.back().start;
    name_ = what;
}

void TRpPageList::Adopt(TRpPageList& other)
{
    std::scoped_lock guard(lock_, other.lock_);
    stream_ = std::move(other.stream_);
    pageCount_ = other.pageCount_;
    compressed_ = other.compressed_;
    lastRecord_ = other.lastRecord_;
    name_ = other.name_;
    other.pageCount_ = 0;
    other.lastRecord_ = 0;
}

void TRpPageList::SaveToFile(const QString& fileName)
{
    std::lock_guard guard(lock_);
    if (!stream_)
        throw ERpError(QStringLiteral("Cannot save report file %1: there are no pages").arg(fileName));
    stream_->SaveToFile(fileName);
    stream_->Seek(0, TRpSeekOrigin::FromEnd);
}
