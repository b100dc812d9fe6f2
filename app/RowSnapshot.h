#pragma once
// A copy of one row of the result table, kept in a one-row table of its own in a temporary
// folder, so that a report bound to it prints that row however the grid moves or the row is
// edited afterwards. The result sheet binds its field items to one: its preview and every print
// from that preview show the row that was current when "Печать" was pressed.
//
// Knows: data sets and fields by name, the result table's layout. Must not know: reports,
// windows. Untrusted: nothing; the values come from the program's own table. A value that does
// not fit the copy's field (it always fits: same layout) raises EDatabaseError naming it.
#include <QTemporaryDir>
#include <memory>

class TDataSet;
class TTable;

class TRowSnapshot {
public:
    // Copies the current row of source, pending (unposted) changes included, as it is shown. A
    // closed or empty source gives a snapshot without a row.
    explicit TRowSnapshot(TDataSet& source);
    ~TRowSnapshot();
    TRowSnapshot(const TRowSnapshot&) = delete;
    TRowSnapshot& operator=(const TRowSnapshot&) = delete;

    // The copy, open and standing on the row (or empty).
    TTable* Table() const { return table_.get(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<TTable> table_;
};
