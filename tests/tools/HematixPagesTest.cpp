// The hematix-pages program as users run it: on report files recorded by the page recorder.
#include "platform/print/PrinterInfo.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include "fuzz/entries/HostilePages.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out, err;
};

ToolRun runPages(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(testsupport::binDir() + QStringLiteral("/hematix-pages"), args);
    ToolRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// One page drawn by a recorder on the given sheet.
QByteArray recordPage(TRpOrientation orientation, const QString& text)
{
    TRpPrinter rp;
    rp.SetOrientation(orientation);
    rp.BeginDoc();
    rp.NewPage();
    PageCanvas& c = *rp.Canvas();
    c.setPen({CanvasPenStyle::Solid, 2, Qt::black});
    c.setBrush({CanvasBrushStyle::Solid, QColor(0, 0, 200)});
    c.rectangle({rp.XPos(100), rp.YPos(100), rp.XPos(1000), rp.YPos(600)});
    c.textOut(rp.XPos(100), rp.YPos(700), text);
    rp.EndDoc();
    return rp.GetPage(1)->Bytes();
}

class HematixPagesTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Portrait, landscape, portrait: the PDF must turn its second page.
        TRpPageList list;
        list.Start(std::make_unique<TRpStream>(), false);
        list.AddPage(recordPage(TRpOrientation::poPortrait, QStringLiteral("Первая страница")));
        list.AddPage(recordPage(TRpOrientation::poLandscape, QStringLiteral("Second page")));
        list.AddPage(recordPage(TRpOrientation::poPortrait, QStringLiteral("Third page")));
        list.WriteHeader();
        file_ = dir_.filePath("three.hrp");
        list.SaveToFile(file_);
    }

    PrinterInfo::ScopedOverride noPrinter_{{}};
    QTemporaryDir dir_;
    QString file_;
};

TEST_F(HematixPagesTool, InfoListsHeaderPagesAndLinks)
{
    const ToolRun r = runPages({"info", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Header: 3 305")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Pages: 3"));
    EXPECT_TRUE(r.out.contains("Compressed: no"));
    EXPECT_TRUE(r.out.contains("Page 1: offset 128"));
    EXPECT_TRUE(r.out.contains("(A4)"));
    EXPECT_TRUE(r.out.contains("(A4 landscape)"));
    EXPECT_TRUE(r.out.contains("Links: OK"));
}

TEST_F(HematixPagesTool, InfoReportsABrokenLink)
{
    QByteArray bytes = testsupport::readFile(file_);
    const quint32 second = qFromLittleEndian<quint32>(bytes.constData() + 132);
    qToLittleEndian<quint32>(quint32(bytes.size() + 1000), bytes.data() + second + 4);
    const QString broken = dir_.filePath("broken.hrp");
    ASSERT_TRUE(testsupport::writeFile(broken, bytes));
    const ToolRun r = runPages({"info", broken});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains("page 2: the next-record link")) << r.out.toStdString();
    EXPECT_EQ(runPages({"pdf", broken, dir_.filePath("broken.pdf")}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("broken.pdf")));
}

TEST_F(HematixPagesTool, PngOfOnePageAndOfAll)
{
    const QString out = dir_.filePath("png");
    ToolRun r = runPages({"png", file_, out, "--dpi", "50", "--page", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QImage page2(out + "/page-002.png");
    ASSERT_FALSE(page2.isNull());
    EXPECT_EQ(page2.size(), QSize(585, 413)) << "A4 landscape at 50 dpi";
    EXPECT_FALSE(QFileInfo::exists(out + "/page-001.png"));
    // The blue rectangle is there, 10 mm from the corner.
    EXPECT_EQ(page2.pixelColor(50, 50), QColor(0, 0, 200));
    EXPECT_EQ(page2.pixelColor(10, 10), QColor(Qt::white));

    r = runPages({"png", file_, out});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QImage(out + "/page-001.png").size(), QSize(794, 1123));
    EXPECT_TRUE(QFileInfo::exists(out + "/page-003.png"));
    EXPECT_EQ(runPages({"png", file_, out, "--page", "4"}).exitCode, 1);
}

TEST_F(HematixPagesTool, PdfKeepsEachPageSizeAndOrientation)
{
    const QString pdf = dir_.filePath("three.pdf");
    const ToolRun r = runPages({"pdf", file_, pdf});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray bytes = testsupport::readFile(pdf);
    ASSERT_TRUE(bytes.startsWith("%PDF"));
    // Page boxes in points: A4 portrait 595 x 842, the second page turned.
    QList<QSizeF> boxes;
    const QRegularExpression box(QStringLiteral("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]"));
    for (auto it = box.globalMatch(QString::fromLatin1(bytes)); it.hasNext();) {
        const auto m = it.next();
        boxes.append(QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()));
    }
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_NEAR(boxes[0].width(), 595.3, 1);
    EXPECT_NEAR(boxes[0].height(), 841.9, 1);
    EXPECT_NEAR(boxes[1].width(), 841.9, 1);
    EXPECT_NEAR(boxes[1].height(), 595.3, 1);
    EXPECT_NEAR(boxes[2].width(), 595.3, 1);
}

TEST_F(HematixPagesTool, UsageAndMissingFiles)
{
    EXPECT_EQ(runPages({}).exitCode, 2);
    EXPECT_EQ(runPages({"frobnicate", file_}).exitCode, 2);
    EXPECT_EQ(runPages({"png", file_, dir_.path(), "--dpi", "x"}).exitCode, 2);
    const ToolRun r = runPages({"info", dir_.filePath("missing.hrp")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains("missing.hrp"));
}

// hematix-pages as a child of its own, so that its peak resident memory is its alone.
struct ChildRun {
    int exitCode = -1;
    double peakMb = 0;
    QString err;
};

ChildRun runPagesMeasured(const QStringList& args, const QString& errFile)
{
    const QByteArray program = (testsupport::binDir() + QStringLiteral("/hematix-pages")).toLocal8Bit();
    std::vector<QByteArray> argBytes = {program};
    for (const QString& a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray errPath = errFile.toLocal8Bit();
    ChildRun r;
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // A file that escapes its bound fails the case instead of taking the machine. AddressSanitizer
        // reserves terabytes of address space for its shadow: there only the processor time is capped.
        const rlimit memory{3ULL << 30, 3ULL << 30}, cpu{60, 60};
        if (!kSanitized)
            setrlimit(RLIMIT_AS, &memory);
        setrlimit(RLIMIT_CPU, &cpu);
        if (!freopen(errPath.constData(), "w", stderr) || !freopen("/dev/null", "w", stdout))
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.peakMb = double(usage.ru_maxrss) / 1024.0;
    r.err = QString::fromUtf8(testsupport::readFile(errFile));
    return r;
}

struct Hostile {
    const char* what;
    std::function<std::vector<QByteArray>()> pages;
    bool compressed;
    int refusedPage; // 0: drawn within the bounds
};

// Saved report files made to cost (each under 1 MB), and what they may cost: drawn or refused
// by the work counter, and in either case no more than 200 MB at 96 dpi and as PDF.
TEST(HematixPagesHostileFiles, CostNoMoreThanTheirBound)
{
    using namespace hostilepages;
    const auto pages = [](int n, const QByteArray& page) { return std::vector<QByteArray>(size_t(n), page); };
    const Hostile cases[] = {
        {"clip of 750 rows intersected with 750 columns", [] { return std::vector{clipProduct(750)}; }, false, 1},
        {"clip of 1900 rows intersected with 1900 columns", [] { return std::vector{clipProduct(1900)}; }, false, 1},
        {"clip of 3800 rows intersected with 3800 columns", [] { return std::vector{clipProduct(3800)}; }, false, 1},
        {"12,000 small turned letters", [] { return std::vector{tiltedText(12000)}; }, false, 1},
        {"40 pages of 12,000 small turned letters", [&] { return pages(40, tiltedText(12000)); }, true, 1},
        {"240,000 turned letters piled at one point", [] { return std::vector{piledGlyphs(240000)}; }, true, 1},
        {"4000 saved and restored states under a clip of 1000 strips", [] { return std::vector{saveRestoreUnderClip(1000, 4000)}; }, false, 1},
        {"6 pages of 20 saved and restored states under a clip of 1000 strips", [&] { return pages(6, saveRestoreUnderClip(1000, 20)); }, false, 3},
        {"20,000 fonts of new sizes", [] { return std::vector{fontRecords(20000)}; }, true, 1},
        {"20 pages of 100 fonts of new sizes", [&] { return pages(20, fontRecords(100)); }, true, 6},
        {"a picture of 2800 x 2800 pixels", [] { return std::vector{largePicture(2800)}; }, false, 0},
        {"80,000 letters of a script the fonts lack", [] { return std::vector{foreignLetters(80000)}; }, false, 1},
        {"3 pattern brushes of 4096 x 4096 pixels", [] { return std::vector{patternBrushes(3, 4096)}; }, true, 1},
        {"100 pages of 450 page fills", [&] { return pages(100, pageFills(450)); }, true, 3},
    };
    QTemporaryDir dir;
    const QString keep = qEnvironmentVariable("HEMATIX_KEEP_HOSTILE");
    int index = 0;
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        const QString file = dir.filePath(QStringLiteral("hostile-%1.hrp").arg(++index));
        {
            TRpPageList list;
            list.Start(std::make_unique<TRpStream>(), c.compressed);
            for (const QByteArray& p : c.pages())
                list.AddPage(p);
            list.WriteHeader();
            list.SaveToFile(file);
        }
        if (!keep.isEmpty())
            QFile::copy(file, QDir(keep).filePath(QFileInfo(file).fileName()));
        ASSERT_LT(QFileInfo(file).size(), 1 << 20);
        const ChildRun png = runPagesMeasured({"png", file, dir.filePath("png")}, dir.filePath("png.err"));
        const ChildRun pdf = runPagesMeasured({"pdf", file, dir.filePath("out.pdf")}, dir.filePath("pdf.err"));
        for (const ChildRun& r : {png, pdf}) {
            // The sanitizers' own memory is no measure of the tool's.
            if (!kSanitized) {
                EXPECT_LE(r.peakMb, 200);
            }
            EXPECT_EQ(r.exitCode, c.refusedPage ? 1 : 0) << r.err.toStdString();
            if (c.refusedPage) {
                EXPECT_TRUE(r.err.contains(QStringLiteral("page %1:").arg(c.refusedPage))) << r.err.toStdString();
                EXPECT_TRUE(r.err.contains(QLatin1String("record"))) << r.err.toStdString();
                // Stopped by the bound, not by a fault of the file.
                EXPECT_TRUE(r.err.contains(QLatin1String("may cost")) || r.err.contains(QLatin1String("could make")))
                    << r.err.toStdString();
            }
        }
    }
}

} // namespace
