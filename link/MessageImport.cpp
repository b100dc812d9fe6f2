#include "link/MessageImport.h"

#include "engine/Cp1251.h"
#include "engine/DataSet.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "link/CaptureFiles.h"
#include "platform/durable/DurableIo.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <array>

namespace {

constexpr char kCR = 0x0D;
constexpr char kLF = 0x0A;
constexpr int kLinesRead = 41;

struct ValueSpec {
    int line;
    const char* tag;
    int width;
    int column;  // index into ImportedRow::values
};

// Lines 7, 9, ..., 41 hold the results in this order; column is where the INSERT wants them.
constexpr std::array<ValueSpec, 18> kValues{{
    {7, "WBC|", 5, 0},   {9, "LY%|", 4, 5},   {11, "MO%|", 4, 6},  {13, "GR%|", 4, 7},
    {15, "LY#|", 5, 8},  {17, "MO#|", 5, 9},  {19, "GR#|", 5, 10}, {21, "RBC|", 4, 1},
    {23, "Hgb|", 4, 2},  {25, "Hct|", 4, 3},  {27, "MCV|", 5, 11}, {29, "MCH|", 4, 12},
    {31, "MCHC|", 4, 13}, {33, "RDW|", 4, 14}, {35, "Plt|", 4, 4},  {37, "MPV|", 4, 15},
    {39, "Pct|", 4, 16}, {41, "PDW|", 4, 17},
}};

// The first kLinesRead lines; lines past the end of the text stay empty.
std::array<QByteArrayView, kLinesRead> splitLines(QByteArrayView text)
{
    std::array<QByteArrayView, kLinesRead> lines{};
    qsizetype at = 0;
    for (int i = 0; i < kLinesRead && at < text.size(); ++i) {
        const qsizetype cr = text.indexOf(kCR, at);
        if (cr < 0) {
            lines[static_cast<size_t>(i)] = text.sliced(at);
            break;
        }
        lines[static_cast<size_t>(i)] = text.sliced(at, cr - at);
        at = cr + 1;
        if (at < text.size() && text[at] == kLF)
            ++at;
    }
    return lines;
}

// The width characters after the first occurrence of tag, fewer when the line ends sooner.
QString afterTag(QByteArrayView line, const char* tag, int width)
{
    const QByteArrayView t(tag);
    const qsizetype found = line.indexOf(t);
    if (found < 0)
        return {};
    const qsizetype start = found + t.size();
    const QByteArrayView value = line.sliced(start, std::min<qsizetype>(width, line.size() - start));
    return cp1251::decode(value.data(), value.size());
}

// The table's fields that identify a stored message, in ImportedRow's order after the first three.
constexpr std::array<const char*, 21> kKeyFields{{
    "DAT", "TIM", "NUM", "WBC", "RBC", "HGB", "HCT", "PLT", "LY1", "MO1", "GR1",
    "LY2", "MO2", "GR2", "MCV", "MCH", "MCHC", "RDV", "MPV", "PCT", "PDW",
}};

} // namespace

CaptureMessage parseCaptureFile(const QByteArray& bytes)
{
    const auto lines = splitLines(QByteArrayView(bytes));
    auto line = [&](int number) { return lines[static_cast<size_t>(number - 1)]; };

    CaptureMessage m;
    m.timestamp = afterTag(line(1), "P|1|", 14);
    m.row.num = afterTag(line(5), "|1|", 9);
    for (const ValueSpec& v : kValues) {
        m.row.values[static_cast<size_t>(v.column)] = afterTag(line(v.line), v.tag, v.width);
        if (!line(v.line).contains(QByteArrayView(v.tag)))
            m.missingTags.append(QString::fromLatin1(v.tag).chopped(1));
    }
    if (m.complete()) {
        // Split by position only: the analyser's text is stored as sent, digits or not.
        const QString& ts = m.timestamp;
        m.row.date = ts.mid(4, 2) + QLatin1Char('/') + ts.mid(6, 2) + QLatin1Char('/') + ts.mid(0, 4);
        m.row.time = ts.mid(8, 2) + QLatin1Char(':') + ts.mid(10, 2) + QLatin1Char(':') + ts.mid(12, 2);
    }
    return m;
}

// The table as one pass sees it: its key fields and the keys of its recent undeleted rows.
struct MessageImport::Snapshot {
    explicit Snapshot(const QString& path) : file(path, DbfFile::Access::ReadOnly)
    {
        for (size_t i = 0; i < kKeyFields.size(); ++i) {
            const int index = file.fieldIndex(QLatin1String(kKeyFields[i]));
            if (index < 0)
                throw EDatabaseError(QStringLiteral("The result table %1 has no field %2")
                                         .arg(path, QLatin1String(kKeyFields[i])));
            fields[i] = &file.fields()[static_cast<size_t>(index)];
        }
        const int count = file.recordCount();
        file.scan(std::max(0, count - kRecentRows), count, [this](int, const char* record) {
            if (record[0] != '*')
                keys.insert(key(record));
        });
    }

    QByteArray key(const char* record) const
    {
        QByteArray k;
        for (const DbfField* f : fields)
            k.append(record + f->offset, f->length);
        return k;
    }

    // The key of the row that row would make; raises when the fields refuse a value.
    QByteArray keyOf(const ImportedRow& row) const
    {
        QByteArray record = file.blankRecord();
        auto put = [&](size_t i, const QString& text) {
            dbfcodec::put(*fields[i], record.data(), DbfValue(text));
        };
        put(0, row.date);
        put(1, row.time);
        put(2, row.num);
        for (size_t i = 0; i < row.values.size(); ++i)
            put(3 + i, row.values[i]);
        return key(record.constData());
    }

    DbfFile file;
    std::array<const DbfField*, kKeyFields.size()> fields{};
    QSet<QByteArray> keys;
};

MessageImport::MessageImport(QString programFolder, TQuery& query, TTable* table,
                             ErrorReport reportError, Hook beforeRefresh)
    : programFolder_(std::move(programFolder)),
      query_(query),
      table_(table),
      reportError_(std::move(reportError)),
      beforeRefresh_(std::move(beforeRefresh)),
      remove_([](const QString& path) { return durable::remove(path); })
{
}

MessageImport::~MessageImport() = default;

void MessageImport::onTimer(QTimer& timer)
{
    timer.stop();
    tick();
    timer.start();
}

void MessageImport::tick()
{
    // A report may run an event loop; a pass started from inside it would interleave.
    if (running_)
        return;
    running_ = true;
    struct Done {
        MessageImport& self;
        ~Done()
        {
            self.snapshot_.reset();
            self.running_ = false;
        }
    } done{*this};

    const QStringList files = capture::waitingFiles(programFolder_);
    QSet<QString> waitingNames;
    for (const QString& f : files)
        waitingNames.insert(QFileInfo(f).fileName());
    for (auto it = failures_.begin(); it != failures_.end();)
        it = waitingNames.contains(it.key()) ? std::next(it) : failures_.erase(it);
    for (auto it = reported_.begin(); it != reported_.end();)
        it = waitingNames.contains(*it) ? std::next(it) : reported_.erase(it);

    bool inserted = false;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const Outcome outcome = importOne(files[i], i + 1 == files.size());
        if (outcome == Outcome::TableAway)
            break;  // the rest wait, in order, for the table
        inserted = inserted || outcome == Outcome::Inserted;
        if (outcome == Outcome::Inserted || outcome == Outcome::AlreadyStored)
            tableAwayReported_ = false;
    }

    // One refresh per pass: re-reading the table after each row of a backlog would cost a full
    // read per row.
    if (inserted) {
        try {
            if (beforeRefresh_)
                beforeRefresh_();
            if (table_)
                table_->Refresh();
        } catch (const Exception& e) {
            reportError_(e.message());
        } catch (const std::exception& e) {
            reportError_(QString::fromLocal8Bit(e.what()));
        }
    }
}

bool MessageImport::openSnapshot()
{
    if (snapshot_)
        return true;
    try {
        snapshot_ = std::make_unique<Snapshot>(resultTablePath(programFolder_));
        return true;
    } catch (const Exception& e) {
        tableAway(e.message());
    } catch (const std::exception& e) {
        tableAway(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void MessageImport::tableAway(const QString& message)
{
    if (!tableAwayReported_)
        reportError_(QStringLiteral("%1\nResults wait in the folder Temp and are stored as soon as the "
                                    "table can be written again.")
                         .arg(message));
    tableAwayReported_ = true;
}

MessageImport::Outcome MessageImport::importOne(const QString& path, bool newest)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Taken by the pass before us or by hand: nothing to do.
        if (!file.exists())
            return Outcome::Skipped;
        failed(path, QStringLiteral("Cannot open capture file %1: %2").arg(path, file.errorString()));
        return Outcome::Failed;
    }
    if (file.size() > kMaxFileSize) {
        failed(path, QStringLiteral("Capture file %1 is %2 bytes, more than a message can be")
                         .arg(path)
                         .arg(file.size()));
        return Outcome::Failed;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        failed(path, QStringLiteral("Cannot read capture file %1: %2").arg(path, file.errorString()));
        return Outcome::Failed;
    }
    file.close();

    const CaptureMessage message = parseCaptureFile(bytes);
    if (!message.complete()) {
        // Nothing replaces it now that messages queue; once a newer one is here it never will be.
        if (!newest) {
            QString error;
            if (capture::moveToRejected(programFolder_, path,
                                        QStringLiteral("No complete timestamp (14 characters after \"P|1|\" "
                                                       "on line 1); a newer message has arrived."),
                                        &error)
                    .isEmpty())
                reportOncePerFile(path, error);
        }
        return Outcome::NoRow;
    }

    if (!openSnapshot())
        return Outcome::TableAway;
    QByteArray key;
    try {
        key = snapshot_->keyOf(message.row);
    } catch (const Exception& e) {
        failed(path, e.message());
        return Outcome::Failed;
    }
    failures_.remove(QFileInfo(path).fileName());
    if (snapshot_->keys.contains(key)) {
        ++alreadyStored_;
        dispose(path, message);
        return Outcome::AlreadyStored;
    }

    try {
        query_.Close();
        query_.SQL.clear();
        query_.SQL = insertStatement(programFolder_, message.row);
        query_.ExecSQL();
    } catch (const Exception& e) {
        // The values fit the table's fields, so what failed is the table.
        tableAway(e.message());
        return Outcome::TableAway;
    } catch (const std::exception& e) {
        tableAway(QString::fromLocal8Bit(e.what()));
        return Outcome::TableAway;
    }
    ++imported_;
    snapshot_->keys.insert(key);
    // Removed at once, before the table is refreshed: a refresh that fails must not leave an
    // imported file behind (it would not give a second row, but would be read at every pass).
    dispose(path, message);
    return Outcome::Inserted;
}

void MessageImport::dispose(const QString& path, const CaptureMessage& message)
{
    if (!message.missingTags.isEmpty()) {
        QString error;
        const QString kept = capture::moveToRejected(
            programFolder_, path,
            QStringLiteral("Imported, but these results had no tag on their line and are blank in the "
                           "row of sample %1: %2. The message is kept here so the values can be recovered.")
                .arg(message.row.num, message.missingTags.join(QStringLiteral(", "))),
            &error);
        if (kept.isEmpty())
            reportOncePerFile(path, QStringLiteral("Capture file %1 cannot be set aside: %2").arg(path, error));
        else
            reportError_(QStringLiteral("The result of sample %1 (%2 %3) was stored with blank values for "
                                        "%4: their tags were missing. The message is kept in %5.")
                             .arg(message.row.num, message.row.date, message.row.time,
                                  message.missingTags.join(QStringLiteral(", ")), kept));
        return;
    }
    if (!remove_(path))
        reportOncePerFile(path, QStringLiteral("Capture file %1 was imported but cannot be deleted; it will "
                                               "not be imported again")
                                    .arg(path));
}

void MessageImport::reportOncePerFile(const QString& path, const QString& message)
{
    const QString name = QFileInfo(path).fileName();
    if (reported_.contains(name))
        return;
    reported_.insert(name);
    reportError_(message);
}

void MessageImport::failed(const QString& path, const QString& message)
{
    const QString name = QFileInfo(path).fileName();
    const int tries = ++failures_[name];
    if (tries == 1)
        reportOncePerFile(path, message);
    if (tries < kMaxTries)
        return;
    QString error;
    const QString kept = capture::moveToRejected(
        programFolder_, path,
        QStringLiteral("Not imported after %1 tries. Last error: %2").arg(tries).arg(message),
        &error);
    if (!kept.isEmpty())
        failures_.remove(name);
    else
        qWarning("Import: cannot set aside %s: %s", qUtf8Printable(path), qUtf8Printable(error));
}
