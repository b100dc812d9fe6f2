#pragma once
// A test against the build's PDF print queue: skipped when the queue cannot be started, and
// starting with the queue idle and its PDFs noted, so that a test sees only what it printed.
#include "PrintQueue.h"

#include <QStringList>
#include <gtest/gtest.h>

class PrintQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!printqueue::available())
            GTEST_SKIP() << "the test print queue could not be started (scripts/print-queue.sh)";
        ASSERT_TRUE(printqueue::waitIdle()) << printqueue::trouble().toStdString();
        before_ = printqueue::pdfs();
    }
    // PDFs the queue wrote since the test began, once the queue is idle (failing the test when the
    // queue cannot get there, with its account of why).
    QStringList newPdfs() const
    {
        EXPECT_TRUE(printqueue::waitIdle()) << printqueue::trouble().toStdString();
        QStringList now = printqueue::pdfs();
        for (const QString& f : before_)
            now.removeAll(f);
        return now;
    }

    QStringList before_;
};
