// The period report's built-in layout against the names the period query binds: every name
// finds its item, and binding reaches those items alone.
#include "GenerationFixtures.h"

#include "report/model/RpBinding.h"
#include "store/PeriodQuery.h"

#include <gtest/gtest.h>
#include <map>

namespace {

TEST(PeriodBinding, EveryNameFindsItsItemAndNoOtherChanges)
{
    auto report = gentest::layout("Unit7");
    TQuery query;
    std::map<QString, QString> fieldsBefore;
    report->ForEachItem([&](TRpPrintable& it) {
        if (auto* f = dynamic_cast<TRpDBText*>(&it))
            fieldsBefore[it.Name] = f->DataField();
    });
    const auto headings = periodquery::headings(QDate(2023, 6, 5), QDate(2023, 6, 9));
    rpbinding::setCaptions(*report, headings);
    rpbinding::bindFields(*report, &query, periodquery::fieldBindings());

    std::map<QString, QString> wanted(periodquery::fieldBindings().begin(), periodquery::fieldBindings().end());
    int fields = 0, captions = 0;
    report->ForEachItem([&](TRpPrintable& it) {
        if (auto* f = dynamic_cast<TRpDBText*>(&it)) {
            const auto w = wanted.find(it.Name);
            if (w == wanted.end()) {
                EXPECT_EQ(f->DataField(), fieldsBefore[it.Name]) << it.Name.toStdString();
                return;
            }
            EXPECT_EQ(f->DataField(), w->second);
            EXPECT_EQ(f->DataSet(), &query);
            ++fields;
        } else if (auto* l = dynamic_cast<TRpLabel*>(&it)) {
            for (const auto& [name, text] : headings)
                if (it.Name == name) {
                    EXPECT_EQ(l->Caption(), text) << name.toStdString();
                    ++captions;
                }
        }
    });
    EXPECT_EQ(fields, 19);
    EXPECT_EQ(captions, 3);
}

} // namespace
