// Draws the result sheet's unit pictures and stores them in layout files:
//   hematix-mkpics [--bmp DIR] LAYOUT...
// Each LAYOUT has the Picture.Data of its unit picture items replaced in place; with --bmp the
// bitmaps are also written to DIR for viewing.
#include "platform/Exception.h"
#include "report/model/UnitPictures.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString bmpDir;
    if (args.size() >= 2 && args[0] == QLatin1String("--bmp")) {
        bmpDir = args[1];
        args = args.mid(2);
    }
    if (args.isEmpty() && bmpDir.isEmpty()) {
        std::fprintf(stderr, "usage: hematix-mkpics [--bmp DIR] LAYOUT...\n");
        return 2;
    }
    using unitpictures::Kind;
    if (!bmpDir.isEmpty()) {
        const std::pair<Kind, const char*> files[] = {{Kind::TenPow9PerLitre, "unit-10e9-per-l.bmp"},
                                                      {Kind::TenPow12PerLitre, "unit-10e12-per-l.bmp"},
                                                      {Kind::PerMille, "unit-per-mille.bmp"}};
        for (const auto& [kind, name] : files) {
            QFile f(QDir(bmpDir).filePath(QString::fromLatin1(name)));
            if (!f.open(QIODevice::WriteOnly) || f.write(unitpictures::toBmp24(unitpictures::draw(kind))) < 0) {
                std::fprintf(stderr, "hematix-mkpics: cannot write %s: %s\n", qPrintable(f.fileName()),
                             qPrintable(f.errorString()));
                return 1;
            }
        }
    }
    for (const QString& path : args) {
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "hematix-mkpics: cannot read %s: %s\n", qPrintable(path), qPrintable(in.errorString()));
            return 1;
        }
        QByteArray text = in.readAll();
        in.close();
        int n = 0;
        try {
            n = unitpictures::embedInLayout(text);
        } catch (const Exception& e) {
            std::fprintf(stderr, "hematix-mkpics: %s: %s\n", qPrintable(path), qPrintable(e.message()));
            return 1;
        }
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size()) {
            std::fprintf(stderr, "hematix-mkpics: cannot write %s: %s\n", qPrintable(path), qPrintable(out.errorString()));
            return 1;
        }
        std::printf("%s: %d pictures\n", qPrintable(path), n);
    }
    return 0;
}
