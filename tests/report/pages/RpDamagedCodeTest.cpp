// Damage inside the compressed bytes of a stored page: the page is refused when it is asked for,
// never shown as a different page, and the other pages stay readable.
#include "report/pages/RpError.h"
#include "report/pages/RpCompress.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include "RpPageListFixtures.h"
#include "RpPrinterFixtures.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace rpfixtures;

TEST(RpDamagedCode, DamagedCodeBytesOfAStoredPageAreRefusedNeverShownAsAnotherPage)
{
    PrinterInfo::ScopedOverride none{{}};
    QTemporaryDir dir;
    const QString goodFile = dir.filePath("good.hrp");
    const QString badFile = dir.filePath("bad.hrp");
    {
        TRpPrinter rp;
        rp.SetCompression(true);
        recordDocument(rp, 3);
        rp.Save(goodFile);
    }
    const QByteArray good = testsupport::readFile(goodFile);
    TRpPrinter reference;
    reference.Load(goodFile);
    const QByteArray page3 = reference.GetPage(3)->Bytes();

    // Page 2's record: number, next link, byte count, code, record start. Only the code is hit.
    const quint32 record2Start = getU32(good, 128 + 4);
    const quint32 record3Start = getU32(good, record2Start + 4);
    const qsizetype codeFrom = qsizetype(record2Start) + 12;
    const qsizetype codeTo = qsizetype(record3Start) - 4;
    ASSERT_GT(codeTo - codeFrom, 16);

    const qint32 count = qint32(getU32(good, record2Start + 8));
    // What the damaged code is when decoded by itself: the count's bytes, using every code byte.
    auto decodesExactly = [&](const QByteArray& code) {
        TRpStream stream(0);
        stream.Write(code.constData(), code.size());
        stream.Seek(0, TRpSeekOrigin::FromBeginning);
        try {
            TRpCompress decoder(stream, false);
            decoder.DecodeBuffer(count);
        } catch (const ERpError&) {
            return false;
        }
        return stream.Position() == code.size();
    };

    int leftOver = 0;
    // Every code byte near both ends (where a change touches least of the page), and a spread
    // between them; each byte with its bits inverted and with its low bit alone changed.
    for (qsizetype at = codeFrom; at < codeTo; ++at) {
        const bool nearAnEnd = at < codeFrom + 24 || at >= codeTo - 48;
        if (!nearAnEnd && (at - codeFrom) % 37 != 0)
            continue;
        for (const char mask : {char(0xFF), char(0x01)}) {
            QByteArray bad = good;
            bad[at] = char(bad[at] ^ mask);
            const bool exact = decodesExactly(bad.mid(codeFrom, codeTo - codeFrom));
            leftOver += !exact;
            ASSERT_TRUE(testsupport::writeFile(badFile, bad));
            TRpPrinter rp;
            rp.Load(badFile);
            try {
                rp.GetPage(2);
                // Code that decodes to its count using every byte may still be another page: the
                // file keeps no checksum. Code that does not is never shown.
                EXPECT_TRUE(exact) << "damage at code byte " << at - codeFrom << " of " << codeTo - codeFrom
                                   << " was shown as a page";
            } catch (const ERpError& e) {
                EXPECT_TRUE(e.message().contains(QLatin1String("page 2"))) << e.message().toStdString();
            }
            EXPECT_EQ(rp.GetPage(3)->Bytes(), page3);
        }
    }
    EXPECT_GT(leftOver, 10) << "too few cases reach the code's end check";
}
