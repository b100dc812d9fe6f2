// Starting inputs for the fuzz targets, made by the program's own writers (a recorded page, a
// saved report, a result table with rows, analyser messages, the built-in layouts), so that a
// fuzzer begins from files the program really meets.
#include "fuzz/entries/FuzzEntries.h"

#include "audit/ChangeHistory.h"
#include "audit/MessageArchive.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "store/DbfNameIndex.h"

#include "engine/DbfSqlTable.h"
#include "engine/Sql.h"
#include "link/LineLog.h"
#include "link/sim/AnalyserSimulator.h"
#include "fuzz/entries/HostilePages.h"
#include "platform/canvas/EmfRecorder.h"
#include "report/model/LayoutLoader.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpStream.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace fuzzentry {

namespace {

void put(const QString& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(QDir(dir).filePath(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray page(int variant)
{
    EmfRecorder rec(QSize(794, 1123), QSizeF(210, 297), QStringLiteral("Hematix"));
    CanvasFont font;
    font.charset = 204;
    rec.setFont(font);
    rec.fillRect({40, 40, 400, 80}, QColor(230, 230, 230));
    rec.setPen({CanvasPenStyle::Dash, 2, Qt::red});
    rec.setBrush({CanvasBrushStyle::DiagCross, Qt::blue});
    rec.rectangle({40, 100, 300, 160});
    rec.ellipse({320, 100, 500, 160});
    rec.moveTo(40, 180);
    rec.lineTo(700, 190);
    rec.save();
    rec.intersectClipRect({40, 200, 600, 400});
    rec.setTextAlign(variant % 2 ? CanvasTextAlign::Right : CanvasTextAlign::Left);
    rec.textOut(60, 220, QStringLiteral("Результат WBC 6.4"));
    rec.restore();
    QImage img(6, 4, QImage::Format_RGB32);
    img.fill(QColor(0, 100, 200));
    rec.stretchImage({500, 500, 560, 540}, img);
    return rec.finish();
}

// Small versions of the costly pages, which the fuzzer can grow towards the bound.
std::vector<QByteArray> costly()
{
    using namespace hostilepages;
    return {clipProduct(40), tiltedText(400), piledGlyphs(2000), saveRestoreUnderClip(50, 20), fontRecords(20),
            patternBrushes(1, 64), foreignLetters(2000), largePicture(64), pageFills(3)};
}

QByteArray report(bool compressed)
{
    TRpPageList list;
    list.Start(std::make_unique<TRpStream>(), compressed);
    list.AddPage(page(0));
    list.AddPage(hostilepages::clipProduct(40));
    list.AddPage(hostilepages::tiltedText(400));
    list.AddPage(page(1));
    list.WriteHeader();
    list.Stream()->Seek(0, TRpSeekOrigin::FromBeginning);
    return list.Stream()->ReadAll();
}

// A list of samples as a long OR, the shape that costs terms times rows unless looked up.
QString longOr(int terms)
{
    QStringList parts;
    for (int i = 0; i < terms; ++i)
        parts << QStringLiteral("NUM = \"%1\"").arg(412345 + i * 7, 9, 10, QLatin1Char('0'));
    return QStringLiteral("SELECT NUM FROM $T WHERE ") + parts.join(QStringLiteral(" OR "));
}

// A chain's day files as the audit-files target takes them: days apart by a line "#day".
QByteArray chainText(const QString& folder, const QString& name)
{
    QList<QByteArray> days;
    for (const QString& f : audit::Chain::files(folder, name))
        days << readAll(f);
    return days.join("\n#day\n");
}

// A trail the program's own classes write, and its table: message rows over three days, an edit
// and a deletion made as the program makes them; `spoil` then does what the seed is about.
QByteArray trail(const std::function<void(const QString& folder, audit::MessageArchive&, audit::ChangeHistory&)>& spoil,
                 bool withTable = true)
{
    QTemporaryDir tmp;
    const QString folder = tmp.path() + QLatin1Char('/');
    QDateTime now(QDate(2026, 12, 5), QTime(9, 15, 2));
    auto clock = [&] { return now; };
    audit::MessageArchive archive(folder, clock);
    audit::ChangeHistory history(folder, clock, {QStringLiteral("anna"), QStringLiteral("labpc"), 1});
    const QString table = resulttable::create(folder);
    sim::MessageGenerator messages(11, now);
    for (int i = 0; i < 3; ++i, now = now.addSecs(3600 * 20)) {
        const sim::Message m = messages.next();
        audit::Identity id{{QStringLiteral("DAT"), now.date().toString(QStringLiteral("MM/dd/yyyy"))},
                           {QStringLiteral("TIM"), now.time().toString(QStringLiteral("hh:mm:ss"))},
                           {QStringLiteral("NUM"), QString::fromLatin1(m.sample)}};
        for (int v = 0; v < 18; ++v)
            id.append({resulttable::valueFields()[v], QString::fromLatin1(m.values[size_t(v)]).trimmed()});
        DbfFile t(table, DbfFile::Access::ReadWrite);
        QByteArray rec = t.blankRecord();
        for (const auto& [field, text] : id)
            dbfcodec::put(t.fields()[size_t(t.fieldIndex(field))], rec.data(), text);
        const int record = t.append(rec) + 1;
        archive.archive({sim::wireBytes(m), now, now.addMSecs(800), QStringLiteral("Temp-%1.log").arg(i)},
                        audit::MessageArchive::Outcome::Stored, id, record);
    }
    {
        DbfFile t(table, DbfFile::Access::ReadWrite);
        const qint64 edit = history.edited(2, {{QStringLiteral("FIO"), QString(), QStringLiteral("Петров")}});
        QByteArray rec = t.readFresh(1);
        dbfcodec::put(t.fields()[size_t(t.fieldIndex(QStringLiteral("FIO")))], rec.data(), QStringLiteral("Петров"));
        t.write(1, rec);
        history.applied(edit, 2);
        const qint64 deletion = history.deleted(3, {{QStringLiteral("NUM"), QStringLiteral("x")}});
        t.setDeleted(2, true);
        history.applied(deletion, 3);
    }
    spoil(folder, archive, history);
    QByteArray out = chainText(folder, QStringLiteral("messages")) + "\n#history\n" + chainText(folder, QStringLiteral("history"));
    if (withTable)
        out += "\n#table\n" + readAll(table);
    return out;
}

} // namespace

void writeSeeds(const Entry& entry, const QString& dir)
{
    ensureApplication();
    QDir().mkpath(dir);
    const QString name = QLatin1String(entry.name);
    sim::MessageGenerator messages(7, QDateTime(QDate(2023, 6, 5), QTime(14, 3, 7)));
    if (name == QLatin1String("capture-import")) {
        for (int i = 0; i < 4; ++i)
            put(dir, QStringLiteral("message-%1").arg(i), sim::wireBytes(messages.next()).chopped(1));
    } else if (name == QLatin1String("sql-text")) {
        const QStringList statements = {
            QStringLiteral("SELECT * FROM $T"),
            QStringLiteral("SELECT NUM, FIO FROM $T WHERE DAT BETWEEN \"6/1/2023\" AND \"6/30/2023\""),
            QStringLiteral("SELECT * FROM $T WHERE (NUM = \"000412345\" OR NOT FIO = 'x') AND DAT >= \"1/2/2023\";"),
            QStringLiteral("SELECT WBC FROM $T WHERE WBC > 5 AND WBC < 7.5"),
            // Equalities of one OR looked up as a set, beside terms that are not: NULL, another
            // column, a value written first.
            QStringLiteral("SELECT NUM FROM $T WHERE NUM = \"000412345\" OR NUM = NULL OR \"000412346\" = NUM "
                           "OR DAT = \"6/5/2023\" OR NUM = \"\" OR DAT = \"6/6/2023\" OR FIO = 'x'"),
            QStringLiteral("SELECT * FROM $T WHERE NOT (TIM = \"14:03:07\" OR TIM = \"14:03:08\") AND NOT (DAT = \"1/1/2000\" OR DAT = \"6/5/2023\")"),
            longOr(300),
            // A character code page 1251 cannot store, outside the first 65,536.
            QStringLiteral("INSERT INTO $T (NUM, FIO) VALUES (\"000000001\", \"Smith 😀\")"),
            insertStatement(QString(), ImportedRow{QStringLiteral("6/5/2023"), QStringLiteral("14:03:07"),
                                                   QStringLiteral("000412345"), {}})
                .join(QLatin1Char('\n'))
                .replace(quoted(resulttable::tableFile(QString())), QStringLiteral("$T")),
        };
        for (int i = 0; i < statements.size(); ++i)
            put(dir, QStringLiteral("statement-%1").arg(i), statements[i].toUtf8());
    } else if (name == QLatin1String("table-file")) {
        QTemporaryDir tmp;
        const QString folder = tmp.path() + QLatin1Char('/');
        const QString table = resulttable::create(folder);
        put(dir, QStringLiteral("empty.dbf"), readAll(table));
        DbfTableOpener opener;
        for (int i = 0; i < 3; ++i) {
            const sim::Message m = messages.next();
            ImportedRow row;
            row.date = QStringLiteral("6/%1/2023").arg(5 + i);
            row.time = QStringLiteral("14:03:0%1").arg(i);
            row.num = QString::fromLatin1(m.sample);
            for (size_t v = 0; v < row.values.size(); ++v)
                row.values[v] = QString::fromLatin1(m.values[v]);
            executeSql(insertStatement(folder, row).join(QLatin1Char('\n')), opener);
        }
        put(dir, QStringLiteral("three-rows.dbf"), readAll(table));
    } else if (name == QLatin1String("page-image")) {
        put(dir, QStringLiteral("page-0.emf"), page(0));
        put(dir, QStringLiteral("page-1.emf"), page(1));
        const std::vector<QByteArray> pages = costly();
        for (size_t i = 0; i < pages.size(); ++i)
            put(dir, QStringLiteral("costly-%1.emf").arg(i), pages[i]);
    } else if (name == QLatin1String("report-file")) {
        put(dir, QStringLiteral("plain.hrp"), report(false));
        put(dir, QStringLiteral("compressed.hrp"), report(true));
    } else if (name == QLatin1String("layout-text")) {
        for (const QString& layout : layoutloader::builtinNames())
            put(dir, layout + QStringLiteral(".layout"), layoutloader::readLayoutFile(layoutloader::builtinPath(layout, QString())));
    } else if (name == QLatin1String("index-cache")) {
        const QByteArray cache = indexCacheSeed();
        put(dir, QStringLiteral("whole"), cache);
        put(dir, QStringLiteral("body"), cache.mid(DbfNameIndex::kHeadSize, cache.size() - DbfNameIndex::kHeadSize - 8));
    } else if (name == QLatin1String("audit-files")) {
        auto none = [](const QString&, audit::MessageArchive&, audit::ChangeHistory&) {};
        put(dir, QStringLiteral("trail"), trail(none));
        put(dir, QStringLiteral("no-table"), trail(none, false));
        {
            // A line log of one message as the receiver logs it, a frame damaged and sent again.
            QByteArray log;
            QDateTime at(QDate(2026, 12, 7), QTime(1, 30));
            sim::MessageGenerator generator(12, at);
            const QByteArray wire = sim::wireBytes(generator.next());
            for (qsizetype i = 0; i < wire.size(); i += 37, at = at.addMSecs(40)) {
                QByteArray chunk = wire.mid(i, 37);
                if (i == 37 * 3)
                    chunk[5] = 'X';
                log += LineLog::line(at, LineLog::Direction::In, chunk);
                if (chunk.endsWith('\n') || chunk.endsWith('\x05'))
                    log += LineLog::line(at, LineLog::Direction::Out, "\x06");
            }
            put(dir, QStringLiteral("line-log"), trail(none) + "\n#line\n" + log);
        }
        put(dir, QStringLiteral("pruned"), trail([](const QString&, audit::MessageArchive& a, audit::ChangeHistory&) {
                a.prune(1, QDate(2026, 12, 7));
            }));
        put(dir, QStringLiteral("outside-pending-torn"), trail([](const QString& folder, audit::MessageArchive&, audit::ChangeHistory& h) {
                h.outside(1, {{QStringLiteral("WBC"), QStringLiteral("6.4"), QStringLiteral("6.5")}});
                h.edited(1, {{QStringLiteral("HGB"), QStringLiteral("1"), QStringLiteral("2")}});
                h.restored(3, {}, 5);
                QFile f(audit::Chain::files(folder, QStringLiteral("history")).last());
                if (f.open(QIODevice::Append))
                    f.write("{\"seq\":9,\"prev\":\"00");
            }));
    } else if (name == QLatin1String("settings-ini")) {
        put(dir, QStringLiteral("set.ini"), "[MAIN]\r\nPort=/dev/ttyUSB0\r\nRate=9600\r\nPath1=C:\\Lab\\\r\nPath2=\"D:\\Arch\"\r\n");
        put(dir, QStringLiteral("two-sections.ini"), "; settings\n[Other]\nPort=x\n\n[main]\n Rate = 19200 \nPort='COM1'\n[MAIN]\nPath1=\n");
        // Old code page bytes and a character outside the first 65,536 in values.
        put(dir, QStringLiteral("code-pages.ini"), "[MAIN]\nPath1=C:\\\xcb\xe0\xe1\nPath2=\xf0\x9f\x98\x80\n");
    }
}

} // namespace fuzzentry
