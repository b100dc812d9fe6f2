// The progress window of a live print, without a print: what it shows for the progress values a
// run reports, and that its Cancel reaches the recorder.
#include "report/printing/RpProgressForm.h"

#include "platform/print/PrinterInfo.h"
#include "report/pages/RpPrinter.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

TEST(ProgressForm, ShowsOnlyMultiplesOfFive)
{
    PrinterInfo::ScopedOverride none{{}};
    struct Row {
        std::vector<int> reported;
        int gauge;
        const char* label;
    };
    const Row rows[] = {
        {{}, 0, ""},
        {{3, 4, 7}, 0, ""},
        {{3, 4, 7, 10}, 10, "10%  Completed"},
        {{40}, 40, "40%  Completed"},
        {{5, 12, 13}, 5, "5%  Completed"},
        {{95, 99, 100}, 100, "100%  Completed"},
        {{0}, 0, "0%  Completed"},
    };
    for (const Row& r : rows) {
        TRpPrinter recorder;
        TRpProgressForm form(recorder);
        recorder.SetClient(&form);
        recorder.BeginDoc();
        for (int p : r.reported)
            recorder.SetProgress(p);
        // Notifications are queued: nothing shows until events run.
        EXPECT_EQ(form.Gauge->value(), 0);
        QCoreApplication::sendPostedEvents(&form);
        EXPECT_EQ(form.Gauge->value(), r.gauge);
        EXPECT_EQ(form.Info->text().toStdString(), r.label);
        recorder.Abort();
    }
}

TEST(ProgressForm, WindowAndCancel)
{
    PrinterInfo::ScopedOverride none{{}};
    TRpPrinter recorder;
    TRpProgressForm form(recorder);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Printing progress"));
    EXPECT_EQ(form.size(), QSize(149, 97));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form.Gauge->geometry(), QRect(16, 18, 114, 16));
    EXPECT_EQ(form.Gauge->maximum(), 100);
    EXPECT_EQ(form.Info->geometry().topLeft(), QPoint(0, 44));
    EXPECT_EQ(form.Info->width(), 145);
    EXPECT_EQ(form.CancelButton->geometry(), QRect(36, 60, 75, 25));
    EXPECT_EQ(form.CancelButton->text(), QStringLiteral("Cancel"));
    recorder.BeginDoc();
    EXPECT_FALSE(recorder.Cancelled());
    form.CancelButton->click();
    EXPECT_TRUE(recorder.Cancelled());
    recorder.Abort();
}

} // namespace
