#include "store/DbfNameIndex.h"

#include "engine/Cp1251.h"
#include "engine/DbfFile.h"
#include "platform/RegularFile.h"
#include "store/RowHistory.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <string_view>
#include <sys/stat.h>

namespace {

constexpr char kMagic[8] = {'H', 'X', 'I', 'N', 'D', 'E', 'X', '1'};
// Records hashed at the table's end: rows replaced or rewritten there show as a changed hash.
constexpr int kTailRecords = 16;
// Records read between two reports of progress (and two looks at a cancel).
constexpr int kChunk = 65536;
// Appended names wait unsorted until there are this many.
constexpr size_t kUnsortedNames = 4096;

// Code page 1251 bytes folded: Latin and Cyrillic capitals to small letters, Ё and ё to е, and
// the bytes an entry is built with (line feed) and other control bytes to blanks.
const std::array<unsigned char, 256>& foldTable()
{
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = i < 0x20 ? ' ' : static_cast<unsigned char>(i);
        for (int c = 'A'; c <= 'Z'; ++c)
            t[size_t(c)] = static_cast<unsigned char>(c + 32);
        for (int c = 0xC0; c <= 0xDF; ++c)
            t[size_t(c)] = static_cast<unsigned char>(c + 32);
        t[0xA8] = t[0xB8] = 0xE5;
        // The other Cyrillic capitals of the code page and their small letters.
        const int pairs[][2] = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E},
                                {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4}, {0xAA, 0xBA}, {0xAF, 0xBF},
                                {0xB2, 0xB3}, {0xBD, 0xBE}};
        for (const auto& p : pairs)
            t[size_t(p[0])] = static_cast<unsigned char>(p[1]);
        return t;
    }();
    return table;
}

// Appends bytes folded, without the blanks at either end.
void appendFolded(QByteArray& out, const char* p, int n)
{
    const auto& t = foldTable();
    const qsizetype at = out.size();
    out.resize(at + n);
    char* o = out.data() + at;
    for (int i = 0; i < n; ++i)
        o[i] = static_cast<char>(t[static_cast<unsigned char>(p[i])]);
    int b = 0;
    while (b < n && o[b] == ' ')
        ++b;
    int e = n;
    while (e > b && o[e - 1] == ' ')
        --e;
    if (b > 0)
        std::memmove(o, o + b, size_t(e - b));
    out.resize(at + (e - b));
}

// Where the sample number and the patient name sit in a record (length 0 when the table lacks one).
struct Layout {
    int numOffset = 0, numLength = 0, nameOffset = 0, nameLength = 0;

    explicit Layout(const DbfFile& file)
    {
        auto place = [&](const char* name, int& offset, int& length) {
            const int i = file.fieldIndex(QString::fromLatin1(name));
            if (i >= 0) {
                offset = file.fields()[size_t(i)].offset;
                length = file.fields()[size_t(i)].length;
            }
        };
        place("NUM", numOffset, numLength);
        place("FIO", nameOffset, nameLength);
    }
    // The longest entry a record of this table can make.
    int maxEntry() const { return numLength + nameLength + 2; }

    // A record's entry: its number and its name, each folded and ended by a line feed; nothing
    // for a deleted record.
    void appendEntry(QByteArray& out, const char* record) const
    {
        if (record[0] == '*')
            return;
        appendFolded(out, record + numOffset, numLength);
        out += '\n';
        appendFolded(out, record + nameOffset, nameLength);
        out += '\n';
    }
};

size_t nameHash(QByteArrayView name)
{
    return std::hash<std::string_view>{}(std::string_view(name.data(), size_t(name.size())));
}

// The name part of an entry (between its two line feeds); empty for a deleted row.
QByteArrayView nameOf(QByteArrayView entry)
{
    const qsizetype nl = entry.indexOf('\n');
    if (nl < 0)
        return {};
    return entry.sliced(nl + 1, entry.size() - nl - 2);
}

// Catches a cache file cut short or changed: not a defence against a forger, who gains nothing.
quint64 checksum(const char* p, qsizetype n)
{
    quint64 h = 0x9E3779B97F4A7C15ull ^ quint64(n);
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 w;
        std::memcpy(&w, p + i, 8);
        h = ((h ^ w) << 27 | (h ^ w) >> 37) * 0x100000001B3ull;
    }
    for (; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(p[i])) * 0x100000001B3ull;
    return h ^ (h >> 31);
}

template <class T> void put(QByteArray& out, T v)
{
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

template <class T> bool take(QByteArrayView& in, T* v)
{
    if (in.size() < qsizetype(sizeof(T)))
        return false;
    std::memcpy(v, in.data(), sizeof(T));
    in = in.sliced(sizeof(T));
    return true;
}

} // namespace

// What the index was made from: a cache file counts only for the table it was made from.
struct Signature {
    qint64 size = 0, mtimeNs = 0, inode = 0, device = 0;
    qint32 count = 0, lastUpdate = 0;
    QByteArray tail;  // SHA-256 of the last records

    bool operator==(const Signature&) const = default;

    static Signature of(DbfFile& file)
    {
        Signature s;
        struct stat st {};
        if (::stat(QFile::encodeName(file.path()).constData(), &st) == 0) {
            s.size = st.st_size;
            s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            s.inode = qint64(st.st_ino);
            s.device = qint64(st.st_dev);
        }
        file.refresh();
        s.count = file.recordCount();
        const QDate d = file.lastUpdate();
        s.lastUpdate = d.isValid() ? d.year() * 10000 + d.month() * 100 + d.day() : 0;
        QCryptographicHash h(QCryptographicHash::Sha256);
        file.scan(s.count - kTailRecords, s.count, [&](int, const char* record) {
            h.addData(QByteArrayView(record, file.recordLength()));
        });
        s.tail = h.result();
        return s;
    }
};

struct DbfNameIndex::Data {
    Signature made;                       // the table this was made from (count: at that time)
    QByteArray blob;                      // every record's entry in record order
    std::vector<qsizetype> start{0};      // record r's entry is blob[start[r-1], start[r])
    std::vector<std::pair<size_t, int>> names;     // (name hash, record), sorted
    std::vector<std::pair<size_t, int>> unsorted;  // names added since, in any order
    QHash<int, QByteArray> rewritten;     // entries of records written since (their blob part blanked)

    int count() const { return int(start.size()) - 1; }

    QByteArrayView entry(int record) const
    {
        const auto it = rewritten.constFind(record);
        if (it != rewritten.constEnd())
            return *it;
        return QByteArrayView(blob).sliced(start[size_t(record - 1)], start[size_t(record)] - start[size_t(record - 1)]);
    }

    void append(const Layout& layout, const char* record, bool sortedLater)
    {
        const qsizetype at = blob.size();
        layout.appendEntry(blob, record);
        start.push_back(blob.size());
        addName(count(), nameOf(QByteArrayView(blob).sliced(at)), sortedLater);
    }

    void addName(int record, QByteArrayView name, bool sortedLater)
    {
        if (name.isEmpty())
            return;
        if (sortedLater) {
            names.emplace_back(nameHash(name), record);
            return;
        }
        unsorted.emplace_back(nameHash(name), record);
        if (unsorted.size() >= kUnsortedNames) {
            std::sort(unsorted.begin(), unsorted.end());
            const size_t mid = names.size();
            names.insert(names.end(), unsorted.begin(), unsorted.end());
            std::inplace_merge(names.begin(), names.begin() + qsizetype(mid), names.end());
            unsorted.clear();
        }
    }

    void rewrite(int record, const QByteArray& now)
    {
        const QByteArrayView was = entry(record);
        if (was == now)
            return;
        const bool nameChanged = nameOf(was) != nameOf(now);
        if (!rewritten.contains(record)) {
            // The old entry can no longer match: line feeds are never part of a text looked for.
            const qsizetype b = start[size_t(record - 1)], e = start[size_t(record)];
            std::memset(blob.data() + b, '\n', size_t(e - b));
        }
        rewritten.insert(record, now);
        if (nameChanged)
            addName(record, nameOf(now), false);
    }

    // The first record in lo+1..hi whose entry holds text, else 0.
    int first(QByteArrayView text, int lo, int hi) const
    {
        int found = 0;
        const qsizetype b = start[size_t(lo)], e = start[size_t(hi)];
        if (e > b) {
            const void* p = ::memmem(blob.constData() + b, size_t(e - b), text.data(), size_t(text.size()));
            if (p)
                found = recordAt(static_cast<const char*>(p) - blob.constData());
        }
        for (auto it = rewritten.constBegin(); it != rewritten.constEnd(); ++it)
            if (it.key() > lo && it.key() <= hi && (found == 0 || it.key() < found) && it->contains(text))
                found = it.key();
        return found;
    }

    // The last record in lo+1..hi whose entry holds text, else 0.
    int last(QByteArrayView text, int lo, int hi) const
    {
        int found = 0;
        const char* b = blob.constData() + start[size_t(lo)];
        const char* e = blob.constData() + start[size_t(hi)];
        const auto rb = std::make_reverse_iterator(e), re = std::make_reverse_iterator(b);
        const auto hit = std::search(rb, re, std::boyer_moore_horspool_searcher(
                                                 std::make_reverse_iterator(text.data() + text.size()),
                                                 std::make_reverse_iterator(text.data())));
        if (hit != re)
            found = recordAt(&*hit - blob.constData());
        for (auto it = rewritten.constBegin(); it != rewritten.constEnd(); ++it)
            if (it.key() > lo && it.key() <= hi && it.key() > found && it->contains(text))
                found = it.key();
        return found;
    }

    int recordAt(qsizetype offset) const
    {
        return int(std::upper_bound(start.begin(), start.end(), offset) - start.begin());
    }

    QList<int> withName(QByteArrayView name) const
    {
        const size_t h = nameHash(name);
        QList<int> out;
        auto consider = [&](int record) {
            if (nameOf(entry(record)) == name)
                out.append(record);
        };
        const auto range = std::equal_range(names.begin(), names.end(), std::make_pair(h, 0),
                                            [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto it = range.first; it != range.second; ++it)
            consider(it->second);
        for (const auto& [hash, record] : unsorted)
            if (hash == h)
                consider(record);
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }

    void sortNames() { std::sort(names.begin(), names.end()); }
};

namespace {

using Data = DbfNameIndex::Data;

// Reads every record of the table into a new index; none when progress says stop.
std::unique_ptr<Data> readTable(DbfFile& file, const Signature& made, const std::function<bool(int)>& progress)
{
    auto d = std::make_unique<Data>();
    d->made = made;
    const Layout layout(file);
    const int n = made.count;
    d->blob.reserve(qsizetype(n) * 24);
    d->start.reserve(size_t(n) + 1);
    for (int first = 0; first < n; first += kChunk) {
        if (!progress(int(qint64(first) * 100 / n)))
            return nullptr;
        file.scan(first, std::min(n, first + kChunk), [&](int, const char* record) { d->append(layout, record, true); });
    }
    d->sortNames();
    return d;
}

QByteArray cacheBytes(const Data& d)
{
    QByteArray out;
    out.reserve(d.blob.size() + qsizetype(d.start.size()) * 2 + 128);
    out.append(kMagic, sizeof kMagic);
    const Signature& s = d.made;
    put(out, s.size);
    put(out, s.mtimeNs);
    put(out, s.inode);
    put(out, s.device);
    put(out, s.count);
    put(out, s.lastUpdate);
    out.append(s.tail);
    Q_ASSERT(out.size() == DbfNameIndex::kHeadSize);
    QByteArray blob;
    blob.reserve(d.blob.size());
    for (int r = 1; r <= d.count(); ++r) {
        const QByteArrayView e = d.entry(r);
        put(out, quint16(e.size()));
        blob.append(e);
    }
    out.append(blob);
    return DbfNameIndex::sealed(std::move(out));
}

// The index a cache file holds, when it was made from the table as it is now and reads whole.
std::unique_ptr<Data> readCache(const QString& path, const DbfFile& table, const Signature& now)
{
    const Layout layout(table);
    const qint64 bound = 128 + qint64(now.count) * (2 + layout.maxEntry());
    QByteArray bytes;
    QString error;
    if (regularfile::readWhole(path, bound, &bytes, &error) != regularfile::Read::Done)
        return nullptr;
    if (bytes.size() < qsizetype(sizeof kMagic + 8) || std::memcmp(bytes.constData(), kMagic, sizeof kMagic) != 0)
        return nullptr;
    quint64 sum = 0;
    std::memcpy(&sum, bytes.constData() + bytes.size() - 8, 8);
    if (checksum(bytes.constData(), bytes.size() - 8) != sum)
        return nullptr;
    QByteArrayView in = QByteArrayView(bytes).sliced(sizeof kMagic, bytes.size() - qsizetype(sizeof kMagic) - 8);
    Signature s;
    if (!take(in, &s.size) || !take(in, &s.mtimeNs) || !take(in, &s.inode) || !take(in, &s.device)
        || !take(in, &s.count) || !take(in, &s.lastUpdate) || in.size() < 32)
        return nullptr;
    s.tail = in.first(32).toByteArray();
    in = in.sliced(32);
    if (!(s == now) || in.size() < qsizetype(s.count) * 2)
        return nullptr;
    auto d = std::make_unique<Data>();
    d->made = s;
    const QByteArrayView lengths = in.first(qsizetype(s.count) * 2);
    const QByteArrayView blob = in.sliced(qsizetype(s.count) * 2);
    d->start.reserve(size_t(s.count) + 1);
    qsizetype at = 0;
    for (int r = 0; r < s.count; ++r) {
        quint16 n = 0;
        std::memcpy(&n, lengths.data() + qsizetype(r) * 2, 2);
        if (n > layout.maxEntry() || at + n > blob.size())
            return nullptr;
        const QByteArrayView e = blob.sliced(at, n);
        // An entry is nothing, or a number and a name each ended by a line feed.
        if (n > 0 && (e.count('\n') != 2 || e.back() != '\n'))
            return nullptr;
        at += n;
        d->start.push_back(at);
    }
    if (at != blob.size())
        return nullptr;
    d->blob = blob.toByteArray();
    for (int r = 1; r <= d->count(); ++r)
        d->addName(r, nameOf(d->entry(r)), true);
    d->sortNames();
    return d;
}

} // namespace

DbfNameIndex::DbfNameIndex(QString tableFile) : path_(std::move(tableFile)) {}

DbfNameIndex::~DbfNameIndex()
{
    stopBuilding();
}

QString DbfNameIndex::cacheFile(const QString& tableFile)
{
    QString base = tableFile;
    if (base.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive))
        base.chop(4);
    return base + QStringLiteral(".hxindex");
}

QByteArray DbfNameIndex::sealed(QByteArray headAndBody)
{
    put(headAndBody, checksum(headAndBody.constData(), headAndBody.size()));
    return headAndBody;
}

QByteArray DbfNameIndex::fold(QStringView text)
{
    QByteArray bytes;
    if (!cp1251::encode(text.toString(), bytes))
        return {};
    QByteArray out;
    appendFolded(out, bytes.constData(), int(std::min<qsizetype>(bytes.size(), INT_MAX)));
    return out;
}

void DbfNameIndex::open()
{
    if (!data_ && !building_)
        startBuilding();
}

void DbfNameIndex::startBuilding()
{
    stopBuilding();
    data_.reset();
    file_.reset();
    cancel_ = false;
    percent_ = 0;
    done_ = false;
    building_ = true;
    builder_ = std::thread([this] {
        std::unique_ptr<Data> d;
        try {
            DbfFile file(path_, DbfFile::Access::ReadOnly);
            const Signature now = Signature::of(file);
            const QString cache = cacheFile(path_);
            d = readCache(cache, file, now);
            fromCache_ = d != nullptr;
            // Read or not, the file goes: a crash from here on must not leave one that looks
            // current for rows this program will write.
            QFile::remove(cache);
            if (!d)
                d = readTable(file, now, [this](int p) {
                    percent_ = p;
                    return !cancel_.load();
                });
        } catch (const std::exception&) {
            d.reset();  // the table cannot be read: requests read it themselves and say why
        }
        std::lock_guard<std::mutex> g(builtLock_);
        built_ = std::move(d);
        done_ = true;
    });
}

void DbfNameIndex::stopBuilding()
{
    cancel_ = true;
    if (builder_.joinable())
        builder_.join();
    building_ = false;
    std::lock_guard<std::mutex> g(builtLock_);
    built_.reset();
}

bool DbfNameIndex::adoptBuilt()
{
    if (!building_ || !done_)
        return false;
    if (builder_.joinable())
        builder_.join();
    building_ = false;
    std::unique_ptr<Data> d;
    {
        std::lock_guard<std::mutex> g(builtLock_);
        d = std::move(built_);
    }
    if (!d)
        return false;
    data_ = std::move(d);
    return true;
}

bool DbfNameIndex::waitReady()
{
    if (building_ && builder_.joinable())
        builder_.join();
    return ready();
}

void DbfNameIndex::openFile()
{
    struct stat st {};
    const bool named = ::stat(QFile::encodeName(path_).constData(), &st) == 0;
    if (!file_ || (named && (qint64(st.st_ino) != fileInode_ || qint64(st.st_dev) != fileDevice_))) {
        file_.reset();
        file_ = std::make_unique<DbfFile>(path_, DbfFile::Access::ReadOnly);
        fileInode_ = qint64(st.st_ino);
        fileDevice_ = qint64(st.st_dev);
    }
}

bool DbfNameIndex::catchUp()
{
    openFile();
    file_->refresh();
    const int count = file_->recordCount();
    if (fileInode_ != data_->made.inode || fileDevice_ != data_->made.device || count < data_->count()) {
        // Replaced or cut short: what the index holds may belong to other rows.
        startBuilding();
        return false;
    }
    const Layout layout(*file_);
    if (count > data_->count())
        file_->scan(data_->count(), count, [&](int, const char* record) { data_->append(layout, record, false); });
    for (int record : std::exchange(noted_, {})) {
        if (record > data_->count())
            continue;
        const QByteArray bytes = file_->readFresh(record - 1);
        QByteArray entry;
        if (!bytes.isEmpty())
            layout.appendEntry(entry, bytes.constData());
        data_->rewrite(record, entry);
    }
    return true;
}

bool DbfNameIndex::ready()
{
    try {
        adoptBuilt();
        return data_ && catchUp();
    } catch (const std::exception&) {
        return false;  // the table cannot be read now: a request reads it and says why
    }
}

DbfNameIndex::Data* DbfNameIndex::forRequest(const Progress& progress)
{
    if (ready())
        return data_.get();
    // Not ready yet: read the table here, with progress, and keep what was read as the index.
    openFile();
    auto d = readTable(*file_, Signature::of(*file_), progress ? progress : Progress([](int) { return true; }));
    if (!d)
        return nullptr;
    stopBuilding();
    noted_.clear();
    fromCache_ = false;
    data_ = std::move(d);
    return data_.get();
}

void DbfNameIndex::noteWritten(int record)
{
    // Read at the next request: this may be called under the table's write lock, which a read
    // through another handle would wait for.
    if (record > 0)
        noted_.append(record);
}

std::optional<RowFinder::Match> DbfNameIndex::find(const QString& text, int from, bool backward,
                                                   const Progress& progress)
{
    const QByteArray folded = fold(text);
    if (folded.isEmpty())
        return std::nullopt;
    const Data* d = forRequest(progress);
    if (!d)
        return std::nullopt;
    const int n = d->count();
    from = std::clamp(from, 0, n);
    int found = 0;
    if (!backward) {
        if ((found = d->first(folded, from, n)))
            return Match{found, false};
        if (from > 0 && (found = d->first(folded, 0, from)))
            return Match{found, true};
    } else {
        const int before = from == 0 ? n : from - 1;
        if ((found = d->last(folded, 0, before)))
            return Match{found, false};
        if (from > 0 && (found = d->last(folded, before, n)))
            return Match{found, true};
    }
    return std::nullopt;
}

QList<int> DbfNameIndex::patientRecords(const QString& name, const Progress& progress)
{
    const QByteArray folded = fold(name);
    if (folded.isEmpty())
        return {};
    const Data* d = forRequest(progress);
    return d ? d->withName(folded) : QList<int>{};
}

audit::RowValues DbfNameIndex::valuesAt(int record)
{
    openFile();
    file_->refresh();
    if (record < 1 || record > file_->recordCount())
        return {};
    const QByteArray bytes = file_->readFresh(record - 1);
    if (bytes.isEmpty() || bytes[0] == '*')
        return {};
    return RowHistory::valuesOf(file_->fields(), bytes.constData());
}

bool DbfNameIndex::save()
{
    const QString path = cacheFile(path_);
    try {
        if (!ready())
            return false;
        // Made for the table as it is now: read what was appended after the signature was taken.
        const Signature now = Signature::of(*file_);
        if (now.count < data_->count())
            return false;
        const Layout layout(*file_);
        file_->scan(data_->count(), now.count, [&](int, const char* record) { data_->append(layout, record, false); });
        data_->made = now;
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return false;
        const QByteArray bytes = cacheBytes(*data_);
        if (out.write(bytes) != bytes.size())
            return false;
        return out.commit();
    } catch (const std::exception&) {
        return false;
    }
}
