#pragma once
// How many rows the built-in period report puts on a page, for the benchmarks that ask for a
// report of a given page count: 34 on the first page below the title, 35 on every further page.
namespace benchsupport {

constexpr int kPeriodFirstPageRows = 34;
constexpr int kPeriodPageRows = 35;

// Rows that fill `pages` whole pages of the period report.
constexpr int periodRowsFilling(int pages)
{
    return pages <= 0 ? 0 : kPeriodFirstPageRows + kPeriodPageRows * (pages - 1);
}

} // namespace benchsupport
