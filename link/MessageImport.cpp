#include "link/MessageImport.h"

#include "engine/Cp1251.h"
#include "engine/DataSet.h"
#include "link/CaptureFiles.h"

#include <QCryptographicHash>
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

} // namespace

CaptureMessage parseCaptureFile(const QByteArray& bytes)
{
    const auto lines = splitLines(QByteArrayView(bytes));
    auto line = [&](int number) { return lines[static_cast<size_t>(number - 1)]; };

    CaptureMessage m;
    m.timestamp = afterTag(line(1), "P|1|", 14);
    m.row.num = afterTag(line(5), "|1|", 9);
    for (const ValueSpec& v : kValues)
        m.row.values[static_cast<size_t>(v.column)] = afterTag(line(v.line), v.tag, v.width);
    if (m.complete()) {
        // Split by position only: the analyser's text is stored as sent, digits or not.
        const QString& ts = m.timestamp;
        m.row.date = ts.mid(4, 2) + QLatin1Char('/') + ts.mid(6, 2) + QLatin1Char('/') + ts.mid(0, 4);
        m.row.time = ts.mid(8, 2) + QLatin1Char(':') + ts.mid(10, 2) + QLatin1Char(':') + ts.mid(12, 2);
    }
    return m;
}

MessageImport::MessageImport(QString programFolder, TQuery& query, TTable* table,
                             ErrorReport reportError, Hook beforeRefresh)
    : programFolder_(std::move(programFolder)),
      query_(query),
      table_(table),
      reportError_(std::move(reportError)),
      beforeRefresh_(std::move(beforeRefresh)),
      remove_([](const QString& path) { return QFile::remove(path); })
{
    loadLedger();
}

void MessageImport::onTimer(QTimer& timer)
{
    timer.stop();
    tick();
    timer.start();
}

void MessageImport::tick()
{
    // An error box runs its own event loop; a pass started from inside it would interleave.
    if (running_)
        return;
    running_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{running_};

    const QStringList files = capture::waitingFiles(programFolder_);
    QSet<QString> waitingNames;
    for (const QString& f : files)
        waitingNames.insert(QFileInfo(f).fileName());

    // Entries of files that are gone are no longer needed.
    bool ledgerChanged = false;
    for (auto it = ledger_.begin(); it != ledger_.end();) {
        if (!waitingNames.contains(it->section(QLatin1Char('\t'), 0, 0))) {
            it = ledger_.erase(it);
            ledgerChanged = true;
        } else {
            ++it;
        }
    }
    if (ledgerChanged)
        saveLedger();
    for (auto it = failures_.begin(); it != failures_.end();) {
        if (!waitingNames.contains(it.key()))
            it = failures_.erase(it);
        else
            ++it;
    }

    bool inserted = false;
    for (const QString& f : files)
        inserted = (importOne(f) == Outcome::Inserted) || inserted;

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

MessageImport::Outcome MessageImport::importOne(const QString& path)
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

    if (!ledger_.isEmpty()) {
        const QString key = ledgerKey(path, bytes);
        if (ledger_.contains(key)) {
            // Imported already; only the removal is still owed.
            if (remove_(path)) {
                ledger_.remove(key);
                saveLedger();
            }
            return Outcome::Skipped;
        }
    }

    const CaptureMessage message = parseCaptureFile(bytes);
    if (!message.complete())
        return Outcome::NoRow;

    try {
        query_.Close();
        query_.SQL.clear();
        query_.SQL = insertStatement(programFolder_, message.row);
        query_.ExecSQL();
    } catch (const Exception& e) {
        failed(path, e.message());
        return Outcome::Failed;
    } catch (const std::exception& e) {
        failed(path, QString::fromLocal8Bit(e.what()));
        return Outcome::Failed;
    }
    ++imported_;
    forget(path);

    // Removed at once, before the table is refreshed: a refresh that fails must not leave an
    // imported file behind to give a second row.
    if (!remove_(path)) {
        // The row is in; the file must never give a second one.
        ledger_.insert(ledgerKey(path, bytes));
        saveLedger();
        reportError_(QStringLiteral("Capture file %1 was imported but cannot be deleted; it will "
                                    "not be imported again")
                         .arg(path));
    }
    return Outcome::Inserted;
}

void MessageImport::failed(const QString& path, const QString& message)
{
    const QString name = QFileInfo(path).fileName();
    const int tries = ++failures_[name];
    if (tries == 1)
        reportError_(message);
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

void MessageImport::forget(const QString& path) { failures_.remove(QFileInfo(path).fileName()); }

QString MessageImport::ledgerKey(const QString& path, const QByteArray& bytes) const
{
    return QFileInfo(path).fileName() + QLatin1Char('\t') +
           QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void MessageImport::loadLedger()
{
    QFile file(capture::tempFolder(programFolder_) + QStringLiteral("Imported.ledger"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.count('\t') == 1)
            ledger_.insert(QString::fromUtf8(line));
    }
}

void MessageImport::saveLedger()
{
    const QString path = capture::tempFolder(programFolder_) + QStringLiteral("Imported.ledger");
    if (ledger_.isEmpty()) {
        QFile::remove(path);
        return;
    }
    QByteArray text;
    for (const QString& entry : ledger_)
        text += entry.toUtf8() + '\n';
    QString error;
    // When the folder refuses this too, the ledger in memory still holds for this run.
    if (!capture::writeWhole(path, text, &error))
        qWarning("Import: ledger not saved: %s", qUtf8Printable(error));
}
