#pragma once
// The record driver of a report: its data set, whether an empty report still prints, and the
// three bands it prints itself.
// Knows: a data set by pointer (cleared when it goes) and the bands of the three roles. Must not
// know: fields, records, how bands print. Untrusted: nothing; the stored reference is only held.
#include <QPointer>
#include <QString>

class TDataSet;
class TRpCustomBand;

class TRpController {
public:
    TDataSet* DataSet() const;
    // The reference clears itself when the data set is destroyed.
    void SetDataSet(TDataSet* ds);
    // A stored reference ("Form6.Query1") waiting to be bound.
    QString DataSetReference;
    bool PrintIfEmpty = true;

    // Bound at the start of generation (and after a reorder) to the first band of each role.
    TRpCustomBand* Title = nullptr;
    TRpCustomBand* Detail = nullptr;
    TRpCustomBand* Summary = nullptr;
    // Details printed in the current run.
    int DetailNumber = 0;

private:
    QPointer<TDataSet> dataSet_;
};
