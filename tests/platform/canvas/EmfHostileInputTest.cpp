// Metafiles are untrusted (saved report files come from anywhere): every malformed one gives an
// EmfError saying what is wrong and where, never a crash, an out-of-bounds read or a hang.
#include "EmfTestPages.h"
#include "platform/canvas/EmfFormat.h"
#include "platform/canvas/EmfPainter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <random>

using namespace emftest;

namespace {

QString playError(const QByteArray& emf)
{
    QImage img = blankPage(QSize(100, 140));
    QPainter p(&img);
    try {
        EmfPlayer::play(emf, p, QRectF(0, 0, 100, 140));
    } catch (const EmfError& e) {
        // The painter is left as it was given.
        EXPECT_TRUE(p.transform().isIdentity());
        EXPECT_FALSE(p.hasClipping());
        return e.message();
    }
    return QString();
}

QByteArray textRecord(quint32 nChars, quint32 offString, quint32 offDx, qsizetype payloadBytes)
{
    // bounds, graphics mode, scales, reference, nChars, offString, options, rectangle, offDx
    return rec(emf::EMR_EXTTEXTOUTW, {0, 0, 10, 10, 1, 0, 0, 5, 5, nChars, offString, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, offDx},
               payloadBytes);
}

QByteArray bitmapRecord(qint32 width, qint32 height, quint16 bpp, quint32 pixelBytes)
{
    QByteArray r = rec(emf::EMR_STRETCHDIBITS,
                       {0, 0, 10, 10, 0, 0, 0, 0, quint32(width), quint32(height), 80, 40, 120, pixelBytes, 0, emf::SRCCOPY, 10, 10});
    emf::Writer w(r);
    w.u32(40);
    w.i32(width);
    w.i32(height);
    w.u16(1);
    w.u16(bpp);
    w.zeros(24);
    w.zeros(pixelBytes);
    emf::patchU32(r, 4, quint32(r.size()));
    return r;
}

// Records other writers use and our recorder does not: mapping modes, transforms, regions,
// polygons, blits, palette bitmaps, pattern brushes, ANSI text.
QByteArray windowsStyleRecords()
{
    QByteArray dib8 = rec(emf::EMR_CREATEDIBPATTERNBRUSHPT, {3, 0, 32, 48, 80, 8});
    {
        emf::Writer w(dib8);
        w.u32(40); // 8-bit 2x2 with a 2-colour palette
        w.i32(2);
        w.i32(2);
        w.u16(1);
        w.u16(8);
        w.zeros(16);
        w.u32(2);
        w.u32(0);
        w.u32(0x000000FF);
        w.u32(0x0000FF00);
        w.u32(0x00000100);
        w.u32(0x00000001);
        emf::patchU32(dib8, 4, quint32(dib8.size()));
    }
    QByteArray blit = rec(emf::EMR_BITBLT, {0, 0, 10, 10, 5, 5, 2, 2, emf::SRCCOPY, 0, 0, 0x3F800000, 0, 0, 0x3F800000, 0, 0, 0, 0, 100, 40, 140, 16});
    {
        emf::Writer w(blit);
        w.u32(40);
        w.i32(2);
        w.i32(-2);
        w.u16(1);
        w.u16(32);
        w.zeros(24);
        w.u32(0x00FF0000);
        w.u32(0x0000FF00);
        w.u32(0x000000FF);
        w.u32(0x00FFFFFF);
        emf::patchU32(blit, 4, quint32(blit.size()));
    }
    QByteArray ansi = rec(emf::EMR_EXTTEXTOUTA, {0, 0, 10, 10, 1, 0, 0, 5, 30, 4, 76, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 80}, 20);
    ansi.replace(76, 4, QByteArray("\xc4\xe0\xf2\xe0", 4));
    QByteArray pen = rec(emf::EMR_EXTCREATEPEN, {1, 0, 0, 0, 0, 0x10000 | emf::PS_DASH, 3, 0, 0x000080, 0, 0});
    QByteArray font = rec(emf::EMR_EXTCREATEFONTINDIRECTW, {4, quint32(-20), 0, 450, 0, 700, 0xCC000101}, 68);
    font.replace(40, 10, QByteArray("A\0r\0i\0a\0l\0", 10));
    return assemble({
        rec(emf::EMR_SETMAPMODE, {emf::MM_ANISOTROPIC}),
        rec(emf::EMR_SETWINDOWEXTEX, {1000, 1000}),
        rec(emf::EMR_SETVIEWPORTEXTEX, {500, 700}),
        rec(emf::EMR_SETWINDOWORGEX, {quint32(-10), quint32(-10)}),
        rec(emf::EMR_SETVIEWPORTORGEX, {5, 5}),
        rec(emf::EMR_MODIFYWORLDTRANSFORM, {0x3F800000, 0, 0, 0x3F800000, 0x41200000, 0, emf::MWT_LEFTMULTIPLY}),
        pen,
        rec(emf::EMR_SELECTOBJECT, {1}),
        rec(emf::EMR_CREATEBRUSHINDIRECT, {2, emf::BS_HATCHED, 0xFF0000, emf::HS_CROSS}),
        rec(emf::EMR_SELECTOBJECT, {2}),
        rec(emf::EMR_SETBKMODE, {emf::OPAQUE}),
        rec(emf::EMR_ROUNDRECT, {10, 10, 100, 80, 20, 20}),
        rec(emf::EMR_POLYGON16, {0, 0, 10, 10, 3, 0x00140014, 0x00500028, 0x00140050}),
        rec(emf::EMR_POLYLINE, {0, 0, 10, 10, 2, 1, 1, 90, 90}),
        rec(emf::EMR_EXCLUDECLIPRECT, {20, 20, 40, 40}),
        rec(emf::EMR_EXTSELECTCLIPRGN, {48, emf::RGN_AND, 32, 1, 1, 16, 0, 0, 100, 100, 0, 0, 100, 100}),
        dib8,
        rec(emf::EMR_SELECTOBJECT, {3}),
        rec(emf::EMR_BITBLT, {0, 0, 10, 10, 0, 0, 30, 30, emf::PATCOPY, 0, 0, 0x3F800000, 0, 0, 0x3F800000, 0, 0, 0, 0, 0, 0, 0, 0}),
        blit,
        font,
        rec(emf::EMR_SELECTOBJECT, {4}),
        ansi,
        rec(emf::EMR_SAVEDC, {}),
        rec(emf::EMR_SETMAPMODE, {emf::MM_LOMETRIC}),
        rec(emf::EMR_ELLIPSE, {0, quint32(-100), 200, quint32(-300)}),
        rec(emf::EMR_RESTOREDC, {quint32(-1)}),
        rec(emf::EMR_CREATEPALETTE, {5, 0x01000300}),
        rec(emf::EMR_SELECTPALETTE, {5}),
        rec(emf::EMR_DELETEOBJECT, {5}),
        rec(emf::EMR_SELECTOBJECT, {emf::kStockObject | emf::NULL_PEN}),
        rec(emf::EMR_DELETEOBJECT, {1}),
        rec(emf::EMR_GDICOMMENT, {4, 0x12345678}),
    });
}

} // namespace

TEST(EmfHostileInput, WellFormedBuildingBlocksPlay)
{
    // The builders below make valid files when told the truth, so the errors that follow come
    // from the one field each case damages.
    EXPECT_EQ(playError(assemble({textRecord(2, 76, 80, 12)})), QString());
    EXPECT_EQ(playError(assemble({bitmapRecord(2, 2, 24, 16)})), QString());
    EXPECT_EQ(playError(windowsStyleRecords()), QString());
}

TEST(EmfHostileInput, BrokenHeadersAreRefused)
{
    const QByteArray good = assemble({});
    EXPECT_TRUE(playError(QByteArray()).contains(QStringLiteral("too short for a header")));
    EXPECT_TRUE(playError(good.left(good.size() - 8)).contains(QStringLiteral("declares")));
    EXPECT_TRUE(playError(good.left(100)).contains(QStringLiteral("header size")));
    QByteArray notHeader = good;
    emf::patchU32(notHeader, 0, 2);
    EXPECT_TRUE(playError(notHeader).contains(QStringLiteral("not a header")));
    QByteArray signature = good;
    emf::patchU32(signature, 40, 0x12345678);
    EXPECT_TRUE(playError(signature).contains(QStringLiteral("signature")));
    QByteArray description = good;
    emf::patchU32(description, 60, 0x40000000); // characters
    emf::patchU32(description, 64, 108);
    EXPECT_TRUE(playError(description).contains(QStringLiteral("description")));
    QByteArray frame = good;
    emf::patchU32(frame, 32, 0); // frame right = left
    EXPECT_TRUE(playError(frame).contains(QStringLiteral("frame")));
    QByteArray device = good;
    emf::patchU32(device, 72, 0);
    EXPECT_TRUE(playError(device).contains(QStringLiteral("reference device")));
}

TEST(EmfHostileInput, RecordSizesAreChecked)
{
    QByteArray zero = rec(emf::EMR_SAVEDC, {});
    emf::patchU32(zero, 4, 0);
    EXPECT_TRUE(playError(assemble({zero})).contains(QStringLiteral("size invalid")));
    QByteArray odd = rec(emf::EMR_SETBKMODE, {1});
    emf::patchU32(odd, 4, 10);
    EXPECT_TRUE(playError(assemble({odd})).contains(QStringLiteral("size invalid")));
    QByteArray huge = rec(emf::EMR_SETBKMODE, {1});
    emf::patchU32(huge, 4, 0xFFFFFFF0);
    EXPECT_TRUE(playError(assemble({huge})).contains(QStringLiteral("size invalid")));
    // A record too short for its own fields.
    EXPECT_TRUE(playError(assemble({rec(emf::EMR_RECTANGLE, {1, 2})})).contains(QStringLiteral("too short")));
    EXPECT_TRUE(playError(assemble({}, 8, false)).contains(QStringLiteral("without its end record")));
}

TEST(EmfHostileInput, TextOffsetsAndCountsAreChecked)
{
    EXPECT_TRUE(playError(assemble({textRecord(0x7FFFFFFF, 76, 0, 12)})).contains(QStringLiteral("text at offset")));
    EXPECT_TRUE(playError(assemble({textRecord(2, 0xFFFFFFF0, 0, 12)})).contains(QStringLiteral("text at offset")));
    EXPECT_TRUE(playError(assemble({textRecord(2, 76, 0xFFFFFFFC, 12)})).contains(QStringLiteral("advances")));
    EXPECT_TRUE(playError(assemble({textRecord(2, 76, 80, 8)})).contains(QStringLiteral("advances")));
}

TEST(EmfHostileInput, BitmapsAreChecked)
{
    EXPECT_TRUE(playError(assemble({bitmapRecord(100000, 100000, 24, 16)})).contains(QStringLiteral("allowed size")));
    EXPECT_TRUE(playError(assemble({bitmapRecord(-5, 2, 24, 16)})).contains(QStringLiteral("allowed size")));
    EXPECT_TRUE(playError(assemble({bitmapRecord(100, 100, 24, 16)})).contains(QStringLiteral("bytes of pixels")));
    QByteArray header = bitmapRecord(2, 2, 24, 16);
    emf::patchU32(header, 52, 0x7FFFFFFF); // header size beyond the record
    EXPECT_TRUE(playError(assemble({header})).contains(QStringLiteral("bitmap header")));
    // Compressed or 16-bit bitmaps are well-formed but not drawn: skipped, no error.
    EXPECT_EQ(playError(assemble({bitmapRecord(2, 2, 16, 16)})), QString());
}

TEST(EmfHostileInput, HandlesSavedStatesAndRegionsAreCapped)
{
    EXPECT_TRUE(playError(assemble({rec(emf::EMR_CREATEPEN, {8, 0, 1, 0, 0})}, 8)).contains(QStringLiteral("object slot 8")));
    EXPECT_TRUE(playError(assemble({rec(emf::EMR_SELECTOBJECT, {0})})).contains(QStringLiteral("object slot 0")));
    // Selecting a deleted object or a stock object that does not exist changes nothing.
    EXPECT_EQ(playError(assemble({rec(emf::EMR_SELECTOBJECT, {3}), rec(emf::EMR_SELECTOBJECT, {0x80000063})})), QString());
    std::vector<QByteArray> saves(EmfPainter::kMaxSaveDepth + 1, rec(emf::EMR_SAVEDC, {}));
    EXPECT_TRUE(playError(assemble(saves)).contains(QStringLiteral("saved states")));
    // Restoring more states than saved is refused quietly, as GDI does.
    EXPECT_EQ(playError(assemble({rec(emf::EMR_RESTOREDC, {quint32(-5)})})), QString());
    EXPECT_TRUE(playError(assemble({rec(emf::EMR_EXTSELECTCLIPRGN, {48, 5, 32, 1, 0x10000000, 0, 0, 0, 10, 10}, 16)}))
                    .contains(QStringLiteral("rectangles")));
    EXPECT_TRUE(playError(assemble({rec(emf::EMR_SETWORLDTRANSFORM, {0x7F800000, 0, 0, 0x3F800000, 0, 0})}))
                    .contains(QStringLiteral("transform")));
}

TEST(EmfHostileInput, MetafileLengthIsTakenFromTheHeaderAndChecked)
{
    const QByteArray page = recordPage(drawEveryOperation);
    const QByteArray stream = page + QByteArray(40, 'x'); // a page inside a longer stream
    EXPECT_EQ(EmfPlayer::metafileLength(stream.constData(), stream.size()), page.size());
    EXPECT_THROW(EmfPlayer::metafileLength(page.constData(), page.size() - 4), EmfError);
    EXPECT_THROW(EmfPlayer::metafileLength(page.constData(), 20), EmfError);
}

TEST(EmfHostileInput, ThousandsOfMutatedMetafilesPlayWithoutCrashing)
{
    std::vector<QByteArray> seeds;
    seeds.push_back(recordPage(drawEveryOperation));
    seeds.push_back(testsupport::readFile(testsupport::sourceDir() + QStringLiteral("/tests/platform/data/windows-gdi-page.emf")));
    ASSERT_FALSE(seeds.back().isEmpty());
    seeds.push_back(windowsStyleRecords());
    static const quint32 interesting[] = {0, 1, 4, 8, 0x7F, 0xFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF8, 0x10000, 108};

    // HEMATIX_FUZZ_ROUNDS / HEMATIX_FUZZ_SEED run a longer campaign by hand.
    const int rounds = qEnvironmentVariableIsSet("HEMATIX_FUZZ_ROUNDS") ? qEnvironmentVariableIntValue("HEMATIX_FUZZ_ROUNDS") : 3000;
    std::mt19937 rng(qEnvironmentVariableIsSet("HEMATIX_FUZZ_SEED") ? quint32(qEnvironmentVariableIntValue("HEMATIX_FUZZ_SEED")) : 20261207u);
    int errors = 0, played = 0;
    QImage img = blankPage(QSize(60, 85));
    for (int i = 0; i < rounds; ++i) {
        QByteArray m = seeds[size_t(i) % seeds.size()];
        const int kind = int(rng() % 4);
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = qsizetype(rng() % quint32(m.size()));
            if (kind == 0) {
                m[at] = char(rng());
            } else if (kind == 1 && m.size() >= 4) {
                emf::patchU32(m, (at & ~qsizetype(3)) % (m.size() - 3), interesting[rng() % std::size(interesting)]);
            } else if (kind == 2) {
                m.truncate(std::max<qsizetype>(at, 1));
            } else {
                m.remove(at, qsizetype(rng() % 64));
            }
        }
        // Mostly keep the declared length honest so that the records themselves get exercised.
        if (m.size() >= 52 && rng() % 4 != 0)
            emf::patchU32(m, 48, quint32(m.size()));
        img.fill(Qt::white);
        QPainter p(&img);
        try {
            EmfPlayer::play(m, p, QRectF(0, 0, img.width(), img.height()));
            ++played;
        } catch (const EmfError& e) {
            EXPECT_FALSE(e.message().isEmpty());
            ++errors;
        }
    }
    // Both outcomes occur: the mutations reach the records, not only the header.
    EXPECT_GT(errors, 100);
    EXPECT_GT(played, 100);
}
