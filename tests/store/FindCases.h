#pragma once
// Finding by part of a number or name, and a patient's rows, as every store answers them: the
// rows a test stores (record = position + 1) and what each request finds among them.
#include "store/RowFinder.h"

#include <QList>

namespace findcases {

struct Row {
    const char* num;
    const char* name;  // typed in after the row is stored, as staff do; "" leaves it
};
inline const Row rows[] = {
    {"000000123", ""}, {"000000501", "Иванова Алёна"}, {"000000502", "ИВАНОВ"}, {"000000503", "Petrov"},
    {"000000504", "  иванова алена "},
};

struct Find {
    const char* text;
    int from;
    bool backward;
    RowFinder::Match found;
};
inline const Find finds[] = {
    {"123", 0, false, {1, false}},             // part of a number with its zeros
    {"алена", 0, false, {2, false}},           // ё as е, any case
    {"ИВАНОВ", 2, false, {3, false}},          // the next after the current row
    {"иванов", 5, false, {2, true}},           // round past the end
    {"иванов", 3, true, {2, false}},           // backward
    {"иванов", 2, true, {5, true}},            // backward round past the start
    {"PETROV", 4, false, {4, true}},           // the only match is the current row
    {"0000005", 0, true, {5, false}},          // backward from no row: from the end
    {"ова але", 0, false, {2, false}},         // inside a name, blank included
    {"123\nИван", 0, false, {}},               // never across a number and a name
    {"  ", 0, false, {}},                      // nothing to look for
    {"Сидоров", 0, false, {}},
    {"\xF0\x9F\x98\x80", 0, false, {}},        // no row can hold what the code page lacks
    {"%", 0, false, {}},                       // LIKE's own characters are only themselves
    {"0_", 0, false, {}},
};

struct Patient {
    const char* name;
    QList<int> records;
};
inline const Patient patients[] = {
    {"ИВАНОВА АЛЕНА", {2, 5}},
    {"иванов", {3}},
    {"Иванова", {}},  // a whole name, not a part
    {" ", {}},        // an empty name matches nothing
};

} // namespace findcases
