#include "app/DesktopEntry.h"

namespace desktopentry {

namespace {

// The escapes of a string value: a backslash doubled, line breaks and tabs written out.
QString escapeValue(const QString& value)
{
    QString out;
    for (QChar c : value) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

QString quoteExecArgument(const QString& argument)
{
    // A '%' is a field code unless doubled, inside quotes or not.
    QString arg = argument;
    arg.replace(QLatin1Char('%'), QLatin1String("%%"));
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = arg.isEmpty();
    for (QChar c : arg)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (!needsQuotes)
        return arg;
    QString quoted = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

QString entryText(const QString& programFolder)
{
    const QString program = programFolder + QStringLiteral("hematix");
    const QString icon = programFolder + QLatin1String(kIconFile);
    QString folder = programFolder;
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.4\n"
                          "Name=Hematix\n"
                          "GenericName=Haematology results\n"
                          "GenericName[ru]=Результаты гематологического анализатора\n"
                          "Comment=Receives the haematology analyser's results and keeps the laboratory's result table\n"
                          "Comment[ru]=Принимает результаты гематологического анализатора и ведёт таблицу результатов\n"
                          "Exec=%1\n"
                          "Path=%2\n"
                          "Icon=%3\n"
                          "Terminal=false\n"
                          "StartupNotify=false\n"
                          "Categories=Science;MedicalSoftware;\n")
        .arg(escapeValue(quoteExecArgument(program)), escapeValue(folder), escapeValue(icon));
}

} // namespace desktopentry
