#include "store/ResultTable.h"

#include <QDir>
#include <QFileInfo>

namespace resulttable {

const std::vector<DbfFieldSpec>& fields()
{
    static const std::vector<DbfFieldSpec> list = [] {
        std::vector<DbfFieldSpec> f;
        auto text = [&](const char* name, int width) { f.push_back({QString::fromLatin1(name), 'C', width, 0}); };
        f.push_back({QStringLiteral("DAT"), 'D', 8, 0});
        text("TIM", 8);          // hh:mm:ss
        text("NUM", 10);         // the analyser's sample number has 9 characters
        text("FIO", 80);         // patient's full name
        text("DOC", 20);         // age as typed, e.g. "45 лет" or "3 мес."
        text("RECEPTION", 80);   // referring ward or doctor
        // Measured values, 4 or 5 characters from the message; room for a corrected value.
        for (const char* name : {"WBC", "LY1", "MO1", "GR1", "LY2", "MO2", "GR2", "RBC", "HGB", "HCT",
                                 "MCV", "MCH", "MCHC", "RDV", "PLT", "MPV", "PCT", "PDW"})
            text(name, 10);
        text("COE", 10);         // sedimentation rate
        text("RETIC", 10);       // reticulocytes
        text("FORMULA", 120);    // leukocyte formula as typed
        text("COMMENT", 254);    // the widest character field; every dBase reader takes it
        return f;
    }();
    return list;
}

const QStringList& valueFields()
{
    static const QStringList names = {"WBC", "RBC", "HGB", "HCT", "PLT", "LY1", "MO1", "GR1", "LY2",
                                      "MO2", "GR2", "MCV", "MCH", "MCHC", "RDV", "MPV", "PCT", "PDW"};
    return names;
}

const QStringList& keyFields()
{
    static const QStringList names = QStringList{"DAT", "TIM", "NUM"} + valueFields();
    return names;
}

QString tableFile(const QString& programFolder)
{
    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("DB/HEMATIX.dbf");
}

QString create(const QString& programFolder)
{
    const QString file = tableFile(programFolder);
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder))
        throw EDatabaseError(QStringLiteral("Cannot create folder '%1'").arg(folder));
    DbfFile::create(file, fields());
    return file;
}

} // namespace resulttable
