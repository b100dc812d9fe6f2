#pragma once
// Shared pieces of the generation tests: the built-in layouts, result tables of any number of
// rows in a temporary folder, one row stored as the import stores it, a run that notes where every band went, and a reader of the text
// a recorded page holds.
#include "bench/support/BulkTable.h"
#include "engine/DataSet.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpPrinter.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <memory>
#include <vector>

namespace gentest {

// One analyser row as the import takes it from a message on 5 June 2023.
inline ImportedRow importedRow()
{
    ImportedRow row;
    row.date = QStringLiteral("6/5/2023");
    row.time = QStringLiteral("10:15:42");
    row.num = QStringLiteral("123456789");
    row.values = {"7.5 |", "4.52", "138", "41.2", "245", "30.1", "6.2", "63.7", "2.3",
                  "0.5", "4.8", "91.2", "30.5", "335", "12.9", "8.1", "0.19", "15.6"};
    return row;
}

// Makes the result table in folder (with its trailing separator) and stores importedRow() in it
// through the import's INSERT; returns the rows the statement added.
inline int storeImportedRow(const QString& folder)
{
    resulttable::create(folder);
    TQuery insert;
    insert.SQL = insertStatement(folder, importedRow());
    insert.ExecSQL();
    return insert.RowsAffected();
}

inline std::unique_ptr<TReport> layout(const char* name)
{
    return layoutloader::loadBuiltin(QString::fromLatin1(name), QString(),
                                     QLocale(QLocale::Russian, QLocale::Russia));
}

// DB/HEMATIX.dbf in folder with `rows` rows of one day, sample numbers 1..rows.
inline QString writeRows(const QString& folder, int rows, const QDate& day = QDate(2023, 6, 5))
{
    return benchsupport::writeResultTable(folder, rows, [&](int i, const std::vector<DbfField>& fields, char* rec) {
        for (const DbfField& f : fields) {
            if (f.name == QLatin1String("DAT"))
                dbfcodec::put(f, rec, DbfValue(day));
            else if (f.name == QLatin1String("NUM"))
                dbfcodec::put(f, rec, DbfValue(QString::number(100000000 + i)));
            else if (f.name == QLatin1String("TIM"))
                dbfcodec::put(f, rec, DbfValue(QStringLiteral("10:15:00")));
            else if (f.name == QLatin1String("FIO"))
                dbfcodec::put(f, rec, DbfValue(QStringLiteral("Иванов И. И.")));
            else if (f.name == QLatin1String("WBC") || f.name == QLatin1String("RBC"))
                dbfcodec::put(f, rec, DbfValue(QStringLiteral("6.4")));
        }
    });
}

// A table of `rows` rows of one day in a folder of its own, open, for the period report.
struct OpenRows {
    explicit OpenRows(int rows)
    {
        data.SetTableName(writeRows(dir.path(), rows));
        data.Open();
    }
    QTemporaryDir dir;
    TTable data;
};

struct BandAt {
    QString name;
    int page;
    int y;
    bool operator==(const BandAt&) const = default;
};

// A run on a page-store recorder that notes every band printed.
struct NotedRun {
    explicit NotedRun(TReport& r) : report(r), gen(r)
    {
        gen.ProcessEvents = [] {};
        gen.OnBandPrinted = [this](const TRpCustomBand& b, int page, int y) {
            bands.push_back({b.Name, page, y});
        };
        gen.BeforeEndPage = [this](int) { yBeforeEndPage.push_back(gen.CurrentY()); };
    }
    void run() { gen.Generate(recorder); }
    std::vector<BandAt> named(const QString& name) const
    {
        std::vector<BandAt> out;
        for (const BandAt& b : bands)
            if (b.name == name)
                out.push_back(b);
        return out;
    }
    TReport& report;
    TRpGenerator gen;
    TRpPrinter recorder;
    std::vector<BandAt> bands;
    std::vector<int> yBeforeEndPage;
};

// Text output of a recorded page: reference point, bounds (inclusive) and text.
struct TextAt {
    int x, y;
    int left, top, right, bottom;
    QString text;
};

inline std::vector<TextAt> textsOf(const QByteArray& emf)
{
    std::vector<TextAt> out;
    auto u32 = [&](qsizetype at) {
        return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(emf.constData()) + at);
    };
    auto i32 = [&](qsizetype at) { return static_cast<qint32>(u32(at)); };
    qsizetype at = 0;
    while (at + 8 <= emf.size()) {
        const quint32 type = u32(at);
        const quint32 size = u32(at + 4);
        if (size < 8 || at + size > emf.size())
            break;
        if (type == 84 && size >= 76) {
            TextAt t{i32(at + 36), i32(at + 40), i32(at + 8), i32(at + 12), i32(at + 16), i32(at + 20), {}};
            const quint32 n = u32(at + 44);
            const quint32 off = u32(at + 48);
            if (off + n * 2 <= size)
                t.text = QString(reinterpret_cast<const QChar*>(emf.constData() + at + off), n);
            out.push_back(t);
        }
        at += size;
    }
    return out;
}

// Records of one type of a recorded page, each whole (type and size included).
inline std::vector<QByteArray> recordsOf(const QByteArray& emf, quint32 wanted)
{
    std::vector<QByteArray> out;
    qsizetype at = 0;
    while (at + 8 <= emf.size()) {
        const quint32 type = qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(emf.constData()) + at);
        const quint32 size = qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(emf.constData()) + at + 4);
        if (size < 8 || at + size > emf.size())
            break;
        if (type == wanted)
            out.push_back(emf.mid(at, size));
        at += size;
    }
    return out;
}

inline qint32 i32At(const QByteArray& record, qsizetype at)
{
    return qFromLittleEndian<qint32>(reinterpret_cast<const uchar*>(record.constData()) + at);
}

// The page drawn at 96 pixels per inch.
inline QImage pageImage(TRpPrinter& recorder, int page)
{
    auto p = recorder.GetPage(page);
    if (!p)
        return {};
    QImage image(p->Width(96), p->Height(96), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    p->Play(painter, QRectF(0, 0, image.width(), image.height()));
    return image;
}

inline std::vector<TextAt> textsOfPage(TRpPrinter& recorder, int page)
{
    auto image = recorder.GetPage(page);
    return image ? textsOf(image->Bytes()) : std::vector<TextAt>{};
}

} // namespace gentest
