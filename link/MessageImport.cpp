#include "link/MessageImport.h"

#include "engine/Cp1251.h"
#include "link/CaptureFiles.h"
#include "platform/RegularFile.h"
#include "platform/durable/DurableIo.h"
#include "store/ResultStore.h"

#include <QDir>
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

MessageImport::MessageImport(QString programFolder, ResultStore& store, ErrorReport reportError,
                             Hook afterStored)
    : programFolder_(std::move(programFolder)),
      store_(store),
      reportError_(std::move(reportError)),
      afterStored_(std::move(afterStored)),
      remove_([this](const QString& path) {
          if (capture::setImported(programFolder_, path))
              return true;
          importedFolderMade_ = false;  // gone by hand, perhaps: made again for the next file
          return durable::remove(path);
      })
{
}

MessageImport::~MessageImport() = default;

void MessageImport::prepareImportedFolder()
{
    // Made here, not looked for at every move, so that moving a stored file out of the way is
    // one rename; a move that fails has it made again.
    if (!importedFolderMade_)
        importedFolderMade_ = QDir().mkpath(capture::importedFolder(programFolder_));
}

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
        ~Done() { self.running_ = false; }
    } done{*this};

    const QStringList files = capture::waitingFiles(programFolder_);
    QSet<QString> waitingNames;
    for (const QString& f : files)
        waitingNames.insert(QFileInfo(f).fileName());
    for (auto it = failures_.begin(); it != failures_.end();)
        it = waitingNames.contains(it.key()) ? std::next(it) : failures_.erase(it);
    for (auto it = reported_.begin(); it != reported_.end();)
        it = waitingNames.contains(*it) ? std::next(it) : reported_.erase(it);

    // Nothing waits: the time to remove what earlier passes stored.
    if (files.isEmpty() && removeImportedWhenIdle_) {
        removeImportedWhenIdle_ = false;
        if (const int left = capture::removeImported(programFolder_))
            qWarning("Import: %d stored capture files in %s cannot be removed", left,
                     qUtf8Printable(capture::importedFolder(programFolder_)));
    }

    // One message waits for the disk as it is stored; a backlog waits once per kFlushEvery.
    const bool unflushed = files.size() > 1;
    bool inserted = false;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const Outcome outcome = importOne(files[i], i + 1 == files.size(), unflushed);
        if (outcome == Outcome::TableAway)
            break;  // the rest wait, in order, for the table
        inserted = inserted || outcome == Outcome::Inserted;
        if (outcome == Outcome::Inserted || outcome == Outcome::AlreadyStored)
            tableAwayReported_ = false;
        if (int(unflushed_.size()) >= kFlushEvery && !flushStored())
            break;
    }
    flushStored();

    // One refresh per pass: re-reading the table after each row of a backlog would cost a full
    // read per row.
    if (inserted && afterStored_) {
        try {
            afterStored_();
        } catch (const Exception& e) {
            reportError_(e.message());
        } catch (const std::exception& e) {
            reportError_(QString::fromLocal8Bit(e.what()));
        }
    }
}

void MessageImport::tableAway(const QString& message)
{
    if (onStoreAway_) {
        tableAwayReported_ = true;
        onStoreAway_(message);
        return;
    }
    if (!tableAwayReported_)
        reportError_(QStringLiteral("%1\nResults wait in the folder Temp and are stored as soon as the "
                                    "table can be written again.")
                         .arg(message));
    tableAwayReported_ = true;
}

bool MessageImport::flushStored()
{
    if (unflushed_.empty())
        return true;
    const auto stored = std::move(unflushed_);
    unflushed_.clear();
    try {
        store_.flush();
    } catch (const Exception& e) {
        tableAway(e.message());
        return false;
    } catch (const std::exception& e) {
        tableAway(QString::fromLocal8Bit(e.what()));
        return false;
    }
    for (const auto& [path, message] : stored)
        dispose(path, message);
    return true;
}

MessageImport::Outcome MessageImport::importOne(const QString& path, bool newest, bool unflushed)
{
    QByteArray bytes;
    QString readError;
    switch (regularfile::readWhole(path, kMaxFileSize, &bytes, &readError)) {
    case regularfile::Read::Missing:
        return Outcome::Skipped;  // taken by the pass before us or by hand: nothing to do
    case regularfile::Read::NotRegular:
    case regularfile::Read::TooLarge:
        // Never a message the receiver wrote, and trying again would find the same: set aside now.
        setAside(path, QStringLiteral("Capture file %1").arg(readError));
        return Outcome::Failed;
    case regularfile::Read::Failed:
        failed(path, QStringLiteral("Capture file %1").arg(readError));
        return Outcome::Failed;
    case regularfile::Read::Done:
        break;
    }

    const CaptureMessage message = parseCaptureFile(bytes);
    audit::ReceivedMessage received;
    received.bytes = bytes;
    received.capture = QFileInfo(path).fileName();
    capture::readTimes(path, bytes, &received.enq, &received.end);
    if (!message.complete()) {
        // Nothing replaces it now that messages queue; once a newer one is here it never will be.
        if (!newest) {
            const QString reason = QStringLiteral("No complete timestamp (14 characters after \"P|1|\" "
                                                  "on line 1); a newer message has arrived.");
            if (!archiveSetAside(path, received, nullptr, reason))
                return Outcome::TableAway;
            QString error;
            if (capture::moveToRejected(programFolder_, path, reason, &error).isEmpty())
                reportOncePerFile(path, error);
        }
        return Outcome::NoRow;
    }

    ResultStore::Stored stored;
    try {
        stored = unflushed ? store_.storeUnflushed(message.row, received) : store_.store(message.row, received);
    } catch (const ERowRefused& e) {
        failed(path, e.message(), &received, &message.row);
        return Outcome::Failed;
    } catch (const Exception& e) {
        tableAway(e.message());
        return Outcome::TableAway;
    } catch (const std::exception& e) {
        tableAway(QString::fromLocal8Bit(e.what()));
        return Outcome::TableAway;
    }
    failures_.remove(QFileInfo(path).fileName());
    // Removed before the table is refreshed (a refresh that fails must not leave an imported
    // file behind: it would not give a second row, but would be read at every pass), once the
    // store's disk holds the row.
    if (stored.onDisk)
        dispose(path, message);
    else
        unflushed_.emplace_back(path, message);
    if (stored.answer == ResultStore::Insert::AlreadyStored) {
        ++alreadyStored_;
        return Outcome::AlreadyStored;
    }
    ++imported_;
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
    removeImportedWhenIdle_ = true;
    prepareImportedFolder();
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

bool MessageImport::archiveSetAside(const QString& path, const audit::ReceivedMessage& received,
                                    const ImportedRow* row, const QString& reason)
{
    try {
        store_.setAside(received, row, reason);
        return true;
    } catch (const Exception& e) {
        // Kept where it is until the archive takes it: set aside unarchived, it would be the one
        // message without its entry.
        tableAway(e.message());
        (void)path;
        return false;
    }
}

void MessageImport::failed(const QString& path, const QString& message, const audit::ReceivedMessage* received,
                           const ImportedRow* row)
{
    const QString name = QFileInfo(path).fileName();
    const int tries = ++failures_[name];
    if (tries == 1)
        reportOncePerFile(path, message);
    if (tries < kMaxTries)
        return;
    const QString reason = QStringLiteral("Not imported after %1 tries. Last error: %2").arg(tries).arg(message);
    if (received && !archiveSetAside(path, *received, row, reason))
        return;
    QString error;
    const QString kept = capture::moveToRejected(programFolder_, path, reason, &error);
    if (!kept.isEmpty())
        failures_.remove(name);
    else
        qWarning("Import: cannot set aside %s: %s", qUtf8Printable(path), qUtf8Printable(error));
}

void MessageImport::setAside(const QString& path, const QString& reason)
{
    QString error;
    // A link is moved as it is; what it points to is not ours to move.
    const QString kept = capture::moveToRejected(programFolder_, path, reason, &error);
    if (kept.isEmpty())
        reportOncePerFile(path, QStringLiteral("%1; it cannot be set aside: %2").arg(reason, error));
    else
        reportError_(QStringLiteral("%1; it is set aside as %2.").arg(reason, kept));
}
