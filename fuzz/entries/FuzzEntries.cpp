#include "fuzz/entries/FuzzEntries.h"

#include "audit/ChangeHistory.h"
#include "audit/MessageArchive.h"
#include "audit/RecordStory.h"
#include "audit/Verify.h"
#include "engine/DbfFile.h"
#include "engine/DbfSqlTable.h"
#include "engine/Sql.h"
#include "engine/SqlEval.h"
#include "engine/SqlParser.h"
#include "link/LineTrace.h"
#include "link/MessageImport.h"
#include "platform/canvas/EmfPlayer.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "platform/RegularFile.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpReport.h"
#include "report/pages/ReportFile.h"
#include "report/pages/RpPrinter.h"
#include "store/DbfNameIndex.h"
#include "store/ResultTable.h"
#include "engine/DbfFieldCodec.h"
#include "store/Statements.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace fuzzentry {

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "fuzz entry: invariant broken: %s\n", what);
    std::abort();
}

// The scratch folder, made once per process.
const QString& scratch()
{
    static const auto dir = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        auto d = std::make_unique<QTemporaryDir>(base + QStringLiteral("/hematix-fuzz-XXXXXX"));
        if (!d->isValid())
            broken("no scratch folder");
        return d;
    }();
    static const QString path = dir->path() + QLatin1Char('/');
    return path;
}

QString writeScratch(const QString& name, const QByteArray& bytes)
{
    const QString path = scratch() + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        broken("cannot write a scratch file");
    return path;
}

// A result table in its own program folder, made afresh once it has grown, so that a long run's
// inputs do not slow down with the table.
QString resultTable(const QString& folderName, int maxRows)
{
    const QString folder = scratch() + folderName + QLatin1Char('/');
    const QString table = resulttable::tableFile(folder);
    bool fresh = !QFile::exists(table);
    if (!fresh) {
        try {
            fresh = DbfFile(table, DbfFile::Access::ReadOnly).recordCount() > maxRows;
        } catch (const Exception&) {
            fresh = true;
        }
    }
    if (fresh) {
        QDir(folder).removeRecursively();
        resulttable::create(folder);
    }
    return folder;
}

int rowCount(const QString& table) { return DbfFile(table, DbfFile::Access::ReadOnly).recordCount(); }

// The condition with every comparison under an OR put under NOT NOT, which has its truth in
// three-valued logic too but is no equality the binding could look up as a set.
std::unique_ptr<SqlExpr> unfolded(const SqlExpr& e)
{
    auto copy = std::make_unique<SqlExpr>();
    copy->kind = e.kind;
    copy->text = e.text;
    copy->op = e.op;
    copy->negated = e.negated;
    copy->pos = e.pos;
    for (const auto& c : e.children) {
        std::unique_ptr<SqlExpr> child = unfolded(*c);
        if (e.kind == SqlExpr::Kind::Or && c->kind == SqlExpr::Kind::Compare) {
            for (int i = 0; i < 2; ++i) {
                auto n = std::make_unique<SqlExpr>();
                n->kind = SqlExpr::Kind::Not;
                n->pos = c->pos;
                n->children.push_back(std::move(child));
                child = std::move(n);
            }
        }
        copy->children.push_back(std::move(child));
    }
    return copy;
}

// A SELECT's condition must select the same rows whether its equalities are looked up as sets or
// compared one by one.
void checkLookupAgreesWithTerms(const QString& text)
{
    std::optional<SqlStatement> st;
    try {
        st.emplace(parseSql(text));
    } catch (const Exception&) {
        return;
    }
    if (st->kind != SqlStatement::Kind::Select || !st->where)
        return;
    try {
        DbfSqlTable table(st->table);
        const SqlCondition folded(*st->where, table.columns(), st->table);
        const SqlCondition plain(*unfolded(*st->where), table.columns(), st->table);
        for (int r = 0; r < table.rowCount(); ++r)
            if (folded.matches(table, r) != plain.matches(table, r))
                broken("an OR of equalities looked up as a set disagrees with its terms");
    } catch (const Exception&) {
    }
}

} // namespace

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "hematix-fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

void captureImport(const QByteArray& input)
{
    // Read back as the import reads a capture file: whole, as written.
    QByteArray read;
    QString error;
    if (regularfile::readWhole(writeScratch(QStringLiteral("Temp.log"), input), MessageImport::kMaxFileSize, &read, &error)
            != regularfile::Read::Done
        || read != input)
        broken("a capture file does not read back as written");
    const CaptureMessage message = parseCaptureFile(read);
    if (!message.complete())
        return;
    const QString folder = resultTable(QStringLiteral("capture"), 2000);
    const QString table = resulttable::tableFile(folder);
    const int before = rowCount(table);
    DbfTableOpener opener;
    try {
        const SqlResult r = executeSql(insertStatement(folder, message.row).join(QLatin1Char('\n')), opener);
        if (r.rowsAffected != 1)
            broken("an import INSERT wrote other than one row");
    } catch (const Exception&) {
        // Refused values (too long for a field, no 1251 character) are a sound answer...
        if (rowCount(table) != before)
            broken("a refused import INSERT left a row"); // ...but must leave nothing behind.
        return;
    }
    if (rowCount(table) != before + 1)
        broken("an import INSERT did not add exactly one row");
}

void sqlText(const QByteArray& input)
{
    const QString folder = resultTable(QStringLiteral("sql"), 500);
    QString text = QString::fromUtf8(input);
    text.replace(QLatin1String("$T"), quoted(resulttable::tableFile(folder)));
    DbfTableOpener opener;
    try {
        const SqlResult r = executeSql(text, opener);
        if (r.rows) {
            // Read every value of the result, as a grid showing it would.
            for (int i = 0; i < r.rows->rowCount(); ++i)
                for (int c = 0; c < int(r.rows->columns().size()); ++c)
                    (void)r.rows->value(i, c);
        }
    } catch (const Exception&) {
    }
    checkLookupAgreesWithTerms(text);
}

void tableFile(const QByteArray& input)
{
    const QString path = writeScratch(QStringLiteral("table.dbf"), input);
    try {
        DbfSqlTable table(path);
        const int rows = table.rowCount();
        for (int r = 0; r < rows; ++r) {
            (void)table.isDeleted(r);
            for (int c = 0; c < int(table.columns().size()); ++c)
                (void)table.value(r, c);
        }
    } catch (const Exception&) {
    }
}

void pageImage(const QByteArray& input)
{
    ensureApplication();
    QImage image(199, 281, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    try {
        (void)EmfPlayer::readHeader(input);
        EmfPlayer::play(input, painter, QRectF(0, 0, image.width(), image.height()));
    } catch (const Exception&) {
    }
    if (!painter.transform().isIdentity() || painter.hasClipping())
        broken("the player left the painter changed");
}

void reportFile(const QByteArray& input)
{
    ensureApplication();
    const QString path = writeScratch(QStringLiteral("report.hrp"), input);
    try {
        QString text;
        QTextStream out(&text);
        reportfile::describe(path, out);
    } catch (const Exception&) {
    }
    TRpPrinter rp;
    try {
        rp.Load(path);
    } catch (const Exception&) {
        return;
    }
    for (int n = 1; n <= std::min(rp.PageCount(), 3); ++n) {
        try {
            const auto page = rp.GetPage(n);
            if (!page)
                continue;
            // A quarter of 96 dpi: every page a file may claim fits a small picture.
            QImage image(page->Width(24), page->Height(24), QImage::Format_RGB32);
            if (image.isNull())
                broken("a loaded page has no drawable size");
            image.fill(Qt::white);
            QPainter painter(&image);
            page->Play(painter, QRectF(0, 0, image.width(), image.height()));
        } catch (const Exception&) {
        }
    }
}

void layoutText(const QByteArray& input)
{
    ensureApplication();
    try {
        const auto report = layoutloader::load(input, QStringLiteral("fuzz.layout"), QLocale::c());
        if (!report)
            broken("a layout loaded as nothing");
    } catch (const Exception&) {
    }
}

void settingsIni(const QByteArray& input)
{
    const QString path = writeScratch(QStringLiteral("set.ini"), input);
    const IniFile ini(path);
    const QString keys[] = {QStringLiteral("Port"), QStringLiteral("Rate"), QStringLiteral("Path1"), QStringLiteral("Path2")};
    QString before[4];
    for (int i = 0; i < 4; ++i)
        before[i] = ini.readString(QStringLiteral("MAIN"), keys[i], QStringLiteral("-"));
    try {
        ini.writeString(QStringLiteral("MAIN"), QStringLiteral("Port"), QStringLiteral("/dev/ttyUSB0"));
    } catch (const Exception&) {
        return;
    }
    // What was written reads back, and the other keys keep their values.
    if (ini.readString(QStringLiteral("MAIN"), QStringLiteral("Port"), QString()) != QLatin1String("/dev/ttyUSB0"))
        broken("a written setting does not read back");
    for (int i = 1; i < 4; ++i)
        if (ini.readString(QStringLiteral("MAIN"), keys[i], QStringLiteral("-")) != before[i])
            broken("writing one setting changed another");
}

void auditFiles(const QByteArray& input)
{
    const QString folder = scratch() + QStringLiteral("audit/");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + QStringLiteral("Archive"));
    QDir().mkpath(folder + QStringLiteral("DB"));
    // Markers begin with a line feed of their own: the part before one ends as it ends (a torn
    // last line stays torn).
    const qsizetype historyAt = input.indexOf("\n#history\n");
    const qsizetype tableAt = input.indexOf("\n#table\n", std::max<qsizetype>(historyAt, 0));
    const qsizetype messagesEnd = historyAt >= 0 ? historyAt : tableAt >= 0 ? tableAt : input.size();
    const QByteArray messages = input.left(messagesEnd);
    const QByteArray history =
        historyAt < 0 ? QByteArray() : input.mid(historyAt + 10, (tableAt >= 0 ? tableAt : input.size()) - historyAt - 10);
    const QString table = resulttable::tableFile(folder);
    if (tableAt >= 0) {
        writeScratch(QStringLiteral("audit/DB/HEMATIX.dbf"), input.mid(tableAt + 8));
    } else {
        resulttable::create(folder);
        DbfFile t(table, DbfFile::Access::ReadWrite);
        for (int i = 0; i < 3; ++i)
            t.append(t.blankRecord());
    }
    for (const auto& [name, text] : {std::pair{"messages", messages}, std::pair{"history", history}}) {
        qsizetype from = 0;
        for (int day = 5; day <= 7; ++day) {
            const qsizetype at = day < 7 ? text.indexOf("\n#day\n", from) : -1;
            writeScratch(QStringLiteral("audit/Archive/%1-2026-12-0%2.jsonl").arg(QLatin1String(name)).arg(day),
                         text.mid(from, at < 0 ? -1 : at - from));
            if (at < 0)
                break;
            from = at + 6;
        }
    }

    audit::VerifyOptions options;
    options.tableFile = table;
    const audit::VerifyReport report = audit::verify(folder, options);
    if (report.breaks.size() > audit::kMaxBreaks || (report.ok() && (!report.breaks.isEmpty() || report.breaksNotListed)))
        broken("the check's report contradicts itself");
    if (report.ok() && !report.changedOutside.isEmpty())
        broken("a row changed outside passed the check");
    options.days = 2;
    options.today = QDate(2026, 12, 7);
    (void)audit::verify(folder, options);
    (void)audit::storiesOf(folder, {1, 2, 3});
    try {
        DbfFile t(table, DbfFile::Access::ReadOnly);
        (void)audit::expectedRows(folder, t.fields(), {1, 2, 3});
    } catch (const Exception&) {
    }
    for (const QJsonObject& m : audit::messagesOfDay(folder, QDate(2026, 12, 5)))
        (void)audit::frameLines(QByteArray::fromBase64(m.value(QLatin1String("bytes")).toString().toLatin1()));

    // The line log of the day (what follows a "#line" marker, else the archive's text read as one),
    // traced as the history window traces a message over it.
    const qsizetype lineAt = input.indexOf("\n#line\n");
    writeScratch(QStringLiteral("audit/Archive/line-2026-12-07.jsonl"), lineAt >= 0 ? input.mid(lineAt + 7) : messages);
    const QDateTime dayStart(QDate(2026, 12, 7), QTime(0, 0));
    (void)linetrace::traceOf(folder, dayStart.addSecs(3600), dayStart.addSecs(7200), input.left(256));
    (void)linetrace::traceOf(folder, {}, dayStart, input.left(256));

    try {
        audit::MessageArchive archive(folder);
        (void)archive.recordOf(audit::sha256Hex("x"));
        (void)archive.archived(audit::sha256Hex("y"));
        audit::ChangeHistory changes(folder, [] { return QDateTime(QDate(2026, 12, 7), QTime(12, 0)); });
        (void)changes.unresolved(100000);
        // An append cuts a torn tail off and links to the last whole line, whatever it holds.
        audit::JsonLine line;
        line.add("kind", QStringLiteral("note"));
        changes.chain().append(line, false);
    } catch (const audit::AuditError&) {
        return;  // a file it cannot take (a last line longer than an entry) is refused as such
    }
    const QStringList files = audit::Chain::files(folder, QStringLiteral("history"));
    QFile last(files.last());
    if (!last.open(QIODevice::ReadOnly))
        broken("the appended file cannot be read");
    const QList<QByteArray> lines = last.readAll().split('\n');
    if (lines.size() < 2 || !lines.last().isEmpty())
        broken("an append left the file without its last line feed");
    QByteArray before = audit::zeroHash();
    if (lines.size() >= 3) {
        before = audit::sha256Hex(lines[lines.size() - 3]);
    } else {
        // The line before is the last whole line of an earlier day file, if any.
        for (qsizetype f = files.size() - 2; f >= 0 && before == audit::zeroHash(); --f) {
            QFile earlier(files[f]);
            if (earlier.open(QIODevice::ReadOnly)) {
                QByteArray bytes = earlier.readAll();
                if (bytes.endsWith('\n')) {
                    bytes.chop(1);
                    before = audit::sha256Hex(bytes.mid(bytes.lastIndexOf('\n') + 1));
                }
            }
        }
    }
    if (audit::parseLine(lines[lines.size() - 2]).prev != before)
        broken("an appended entry does not link to the line before it");
}

namespace {

// The index-cache target's table (three rows with numbers and names) and its cache file.
QString indexTable()
{
    const QString folder = scratch() + QStringLiteral("index/");
    const QString table = resulttable::tableFile(folder);
    if (!QFile::exists(table)) {
        resulttable::create(folder);
        DbfFile f(table, DbfFile::Access::ReadWrite);
        const char* names[] = {"Петров Пётр", "ИВАНОВА", "петров пётр"};
        for (int i = 0; i < 3; ++i) {
            QByteArray rec = f.blankRecord();
            dbfcodec::put(f.fields()[size_t(f.fieldIndex(QStringLiteral("NUM")))], rec.data(), QStringLiteral("00000012%1").arg(i));
            dbfcodec::put(f.fields()[size_t(f.fieldIndex(QStringLiteral("FIO")))], rec.data(), QString::fromUtf8(names[i]));
            f.append(rec);
        }
    }
    return table;
}

} // namespace

QByteArray indexCacheSeed()
{
    const QString table = indexTable();
    DbfNameIndex index(table);
    index.open();
    if (!index.waitReady() || !index.save())
        broken("the index of the index-cache table cannot be written");
    QFile f(DbfNameIndex::cacheFile(table));
    if (!f.open(QIODevice::ReadOnly))
        broken("the index cache cannot be read back");
    return f.readAll();
}

void indexCache(const QByteArray& input)
{
    static const QByteArray head = indexCacheSeed().left(DbfNameIndex::kHeadSize);
    const QString table = indexTable();
    const QString cache = DbfNameIndex::cacheFile(table);
    for (const QByteArray& bytes : {input, DbfNameIndex::sealed(head + input)}) {
        QFile f(cache);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            broken("cannot write the index cache");
        f.close();
        DbfNameIndex index(table);
        index.open();
        if (!index.waitReady())
            broken("the index did not come up beside a cache that does not read");
        const QList<int> petrov = index.patientRecords(QStringLiteral("ПЕТРОВ ПЕТР"), {});
        (void)index.find(QStringLiteral("12"), 2, true, {});
        (void)index.find(QStringLiteral("иванова"), 0, false, {});
        if (!index.fromCache() && petrov != QList<int>{1, 3})
            broken("the index made from the table misses a patient's rows");
    }
}

const std::vector<Entry>& entries()
{
    static const std::vector<Entry> all = {
        {"capture-import", "tests/link/data/fuzz-regressions/capture-import", captureImport},
        {"sql-text", "tests/engine/data/fuzz-regressions/sql-text", sqlText},
        {"table-file", "tests/engine/data/fuzz-regressions/table-file", tableFile},
        {"page-image", "tests/platform/data/fuzz-regressions/page-image", pageImage},
        {"report-file", "tests/report/pages/data/fuzz-regressions/report-file", reportFile},
        {"layout-text", "tests/report/model/data/fuzz-regressions/layout-text", layoutText},
        {"settings-ini", "tests/platform/data/fuzz-regressions/settings-ini", settingsIni},
        {"audit-files", "tests/audit/data/fuzz-regressions/audit-files", auditFiles},
        {"index-cache", "tests/store/data/fuzz-regressions/index-cache", indexCache},
    };
    return all;
}

const Entry* find(const QString& name)
{
    for (const Entry& e : entries())
        if (name == QLatin1String(e.name))
            return &e;
    return nullptr;
}

} // namespace fuzzentry
