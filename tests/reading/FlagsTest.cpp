#include "reading/Flags.h"

#include <gtest/gtest.h>

using reading::Flag;
using reading::ReferenceRanges;

namespace {

// HGB with a child set under 14 years; WBC for adults only; PLT with its high limit missing.
ReferenceRanges testRanges()
{
    ReferenceRanges r;
    r.setAdult(ReferenceRanges::indexOf("HGB"), {120, 170});
    r.setChild(ReferenceRanges::indexOf("HGB"), {110, 140});
    r.setAdult(ReferenceRanges::indexOf("WBC"), {4.5, 11});
    r.setAdult(ReferenceRanges::indexOf("PLT"), {150, std::nullopt});
    r.setChildUnderYears(14);
    return r;
}

} // namespace

TEST(Flags, StoredTextsAgainstTheLimitsForTheAge)
{
    const struct Case {
        const char* field;
        const char* text;
        const char* doc;
        Flag expected;
    } cases[] = {
        // Exactly at a limit, and just past it.
        {"HGB", "120|", "", Flag::None},
        {"HGB", "119.9|", "", Flag::Low},
        {"HGB", "170", "", Flag::None},
        {"HGB", "170.1", "", Flag::High},
        // Separators and blanks as stored or typed.
        {"WBC", "7.5|1", "", Flag::None},
        {"WBC", "11,5", "", Flag::High},
        {"WBC", " 11.5 |", "", Flag::High},
        {"WBC", "4.4|", "45 лет", Flag::Low},
        // No number at the start: never flagged.
        {"WBC", "-----", "", Flag::None},
        {"WBC", "", "", Flag::None},
        {"WBC", "abc", "", Flag::None},
        {"WBC", "12abc", "", Flag::None},
        {"WBC", "|12", "", Flag::None},
        {"WBC", "7.5.1", "", Flag::None},
        // A value the import cut after its point.
        {"WBC", " 12.", "", Flag::High},
        {"WBC", "11.", "", Flag::None},
        // A missing limit, a value without limits, a field that is no value.
        {"PLT", "9999|", "", Flag::None},
        {"PLT", "149|", "", Flag::Low},
        {"COE", "80", "", Flag::None},
        {"FIO", "1", "", Flag::None},
        // The child set by each form of age, and its edge.
        {"HGB", "145", "13 лет", Flag::High},
        {"HGB", "145", "14 лет", Flag::None},
        {"HGB", "115", "1 год", Flag::None},
        {"HGB", "115", "45 лет", Flag::Low},
        {"HGB", "145", "2 года", Flag::High},
        {"HGB", "145", "6 мес", Flag::High},
        {"HGB", "145", " 6 МЕС. ", Flag::High},
        {"HGB", "145", "168 мес", Flag::None},
        // Anything else as an age is an adult.
        {"HGB", "145", "6", Flag::None},
        {"HGB", "145", "лет", Flag::None},
        {"HGB", "145", "6 недель", Flag::None},
        // A value without child limits takes the adult ones at any age.
        {"WBC", "12", "3 года", Flag::High},
    };
    const ReferenceRanges ranges = testRanges();
    for (const Case& c : cases)
        EXPECT_EQ(reading::flag(ranges, c.field, QString::fromUtf8(c.text), QString::fromUtf8(c.doc)), c.expected)
            << c.field << " \"" << c.text << "\" DOC \"" << c.doc << "\"";

    // Without a child set every age reads the adult limits.
    ReferenceRanges adultsOnly = ranges;
    adultsOnly.setChildUnderYears(std::nullopt);
    EXPECT_EQ(reading::flag(adultsOnly, "HGB", u"145", u"6 мес"), Flag::None);
}
