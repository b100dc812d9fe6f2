#pragma once
// Reference limits of the measured values: a low and a high limit per value for adults, and an
// optional second set for children under a set age; and per value a delta limit (the share a value
// may change by since the patient's previous result within a window of days). Kept in ranges.ini
// beside set.ini.
//
// Knows: the value fields by name (the eighteen measured values in the result table's order, then
// COE and RETIC) and the file's format. Must not know: the table, the rows, how a flag is shown.
// Untrusted: the file (any size, kind and bytes): it is read whole through regularfile with a
// small cap; a line that does not read is named in the problems and skipped, never fatal.
//
// The table holds no patient sex, so the limits are sex-independent.
#include "reading/RangesError.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace reading {

// Either limit may be missing: that side is never flagged.
struct Limits {
    std::optional<double> low;
    std::optional<double> high;
    bool empty() const { return !low && !high; }
    bool operator==(const Limits&) const = default;
};

// A value changed by more than percent since the patient's previous result at most days before is
// marked. Either missing: the value is not checked.
struct DeltaLimit {
    std::optional<double> percent;
    std::optional<int> days;
    bool active() const { return percent && days; }
    bool operator==(const DeltaLimit&) const = default;
};

class ReferenceRanges {
public:
    static constexpr int kFieldCount = 20;
    // A file this size is no list of twenty limits.
    static constexpr qint64 kMaxFileSize = 64 * 1024;
    static constexpr const char* kFileName = "ranges.ini";

    // WBC … PDW as the result table holds them, then COE and RETIC.
    static const QStringList& fields();
    // Index into fields(), or -1 (names compared without regard to case).
    static int indexOf(const QString& field);

    // Common adult limits (see the README for their source; each lab must check them); no child
    // set; the default delta limits.
    static ReferenceRanges defaults();
    // A file written before delta limits existed reads with these.
    static std::array<DeltaLimit, kFieldCount> defaultDeltas();
    // A delta window is a whole number of days from 1 to this.
    static constexpr int kMaxDeltaDays = 3650;

    Limits adult(int i) const { return adult_[size_t(i)]; }
    void setAdult(int i, Limits l) { adult_[size_t(i)] = l; }
    // A field's child limits; empty means the adult limits apply to children too.
    Limits child(int i) const { return child_[size_t(i)]; }
    void setChild(int i, Limits l) { child_[size_t(i)] = l; }
    // The child set applies under this age in years; none: there is no child set.
    std::optional<int> childUnderYears() const { return childUnder_; }
    void setChildUnderYears(std::optional<int> years) { childUnder_ = years; }

    DeltaLimit delta(int i) const { return delta_[size_t(i)]; }
    void setDelta(int i, DeltaLimit d) { delta_[size_t(i)] = d; }

    // The limits that apply to field i at an age in years (none: an adult).
    Limits limitsFor(int i, std::optional<double> ageYears) const;

    bool operator==(const ReferenceRanges&) const = default;

    // A limit as the file and the window write it ("" when missing), and its reading back: a
    // number of at least 0 with a point or a comma, or "" for a missing one; false otherwise.
    static QString limitText(std::optional<double> limit);
    static bool readLimit(const QString& text, std::optional<double>* limit);
    // A delta share: a number above 0 ("" for a missing one). A delta window: a whole number of
    // days from 1 to kMaxDeltaDays ("" for a missing one). False when the text is neither.
    static bool readDeltaPercent(const QString& text, std::optional<double>* percent);
    static bool readDeltaDays(const QString& text, std::optional<int>* days);

    // The file's text, and its reading back; problems gets one line per line skipped, naming it.
    QByteArray toText() const;
    static ReferenceRanges fromText(const QByteArray& bytes, QStringList* problems);

    // Reads path: a missing file gives the defaults without a problem; a file that cannot be read
    // (not a file, too large, unreadable) gives the defaults and says why in problems.
    static ReferenceRanges load(const QString& path, QStringList* problems);
    // Replaces the file whole (a crash leaves the old or the new one); raises ERangesError.
    void save(const QString& path) const;

private:
    std::array<Limits, kFieldCount> adult_{};
    std::array<Limits, kFieldCount> child_{};
    std::optional<int> childUnder_;
    std::array<DeltaLimit, kFieldCount> delta_ = defaultDeltas();
};

} // namespace reading
