#pragma once
// Finding result rows by sample number or patient name, whatever store holds them: the next row
// whose number or name holds a text, and a patient's rows. A store keeps what makes this fast
// (an index); until that is ready, a request reads the rows themselves, with progress, and never
// fails for want of it.
//
// Texts are compared folded: trimmed, without regard to case, with ё read as е.
//
// Knows: record numbers (from 1, as the grid shows them). Must not know: windows.
// Untrusted: the texts asked for (any characters) and whatever the store holds.
#include "audit/ChangeHistory.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

class RowFinder {
public:
    // Told how far a long request has come (0..100); answering false stops it (it then finds
    // nothing). Called on the requesting thread.
    using Progress = std::function<bool(int percent)>;

    struct Match {
        int record = 0;
        bool wrapped = false;  // found only after going round past the last (or first) row
        bool operator==(const Match&) const = default;
    };

    virtual ~RowFinder() = default;

    // The next undeleted row after record from (before it, backward) whose sample number or
    // patient name holds text; round past the end to the row itself. from 0: from the start
    // (backward: from the end). None when no row holds it or text folds to nothing.
    virtual std::optional<Match> find(const QString& text, int from, bool backward, const Progress& progress) = 0;

    // The undeleted rows whose patient name is name (folded), in record order. An empty name
    // has none.
    virtual QList<int> patientRecords(const QString& name, const Progress& progress) = 0;

    // A row's fields and texts (as the history keeps them); empty when the row is gone.
    virtual audit::RowValues valuesAt(int record) = 0;

    // Whether the index is in use (else requests read the rows), and how far its building has
    // come (0..100) while it is built.
    virtual bool ready() = 0;
    virtual int buildPercent() const = 0;
};
