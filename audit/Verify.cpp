#include "audit/Verify.h"

#include "engine/DbTypes.h"
#include "engine/DbfFieldCodec.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QVarLengthArray>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace audit {

namespace {

// ---------------------------------------------------------------------------------------------
// Keyed hashing of a field's text: SipHash-2-4, a keyed function made for exactly this (inputs
// an adversary chooses, a key he does not know).

struct SipKey {
    quint64 k0 = 0, k1 = 0;
};

inline quint64 rotl(quint64 x, int b) { return (x << b) | (x >> (64 - b)); }

quint64 sipHash(const SipKey& key, const uchar* in, size_t length)
{
    quint64 v0 = 0x736f6d6570736575ULL ^ key.k0;
    quint64 v1 = 0x646f72616e646f6dULL ^ key.k1;
    quint64 v2 = 0x6c7967656e657261ULL ^ key.k0;
    quint64 v3 = 0x7465646279746573ULL ^ key.k1;
    auto round = [&] {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    };
    const size_t whole = length & ~size_t(7);
    for (size_t i = 0; i < whole; i += 8) {
        const quint64 m = qFromLittleEndian<quint64>(in + i);
        v3 ^= m;
        round();
        round();
        v0 ^= m;
    }
    quint64 last = quint64(length) << 56;
    for (size_t i = 0; i < (length & 7); ++i)
        last |= quint64(in[whole + i]) << (8 * i);
    v3 ^= last;
    round();
    round();
    v0 ^= last;
    v2 ^= 0xff;
    for (int i = 0; i < 4; ++i)
        round();
    return v0 ^ v1 ^ v2 ^ v3;
}

// A row as two sums of field hashes (wrapping arithmetic: order-free, and an edit is undone by
// taking off what it added).
struct Sum {
    quint64 a = 0, b = 0;
    Sum& operator+=(const Sum& o)
    {
        a += o.a;
        b += o.b;
        return *this;
    }
    Sum& operator-=(const Sum& o)
    {
        a -= o.a;
        b -= o.b;
        return *this;
    }
    bool operator==(const Sum&) const = default;
};

class FieldHash {
public:
    FieldHash()
    {
        QRandomGenerator* r = QRandomGenerator::system();
        ka_ = {r->generate64(), r->generate64()};
        kb_ = {r->generate64(), r->generate64()};
    }
    Sum of(int field, QStringView text) const
    {
        // The field's number first, so that the same text in two fields hashes apart.
        QVarLengthArray<uchar, 256> in(2 + text.size() * 2);
        qToLittleEndian<quint16>(quint16(field), in.data());
        for (qsizetype i = 0; i < text.size(); ++i)
            qToLittleEndian<quint16>(text[i].unicode(), in.data() + 2 + 2 * i);
        const size_t n = size_t(in.size());
        return {sipHash(ka_, in.data(), n), sipHash(kb_, in.data(), n)};
    }

private:
    SipKey ka_, kb_;
};

// ---------------------------------------------------------------------------------------------
// Texts

// Field texts an entry gives: a whole row (values, identity) or changes (before -> after).
struct FieldText {
    int field = 0;
    QString before;
    QString after;
};
struct Texts {
    QList<FieldText> items;
    bool change = false;
};

// The table's layout as the trail's texts are mapped onto it.
struct Layout {
    std::vector<DbfField> fields;
    QByteArray blank;
    int recordLength = 0;
    QHash<QString, int> index;

    explicit Layout(std::vector<DbfField> f) : fields(std::move(f))
    {
        for (size_t i = 0; i < fields.size(); ++i) {
            index.insert(fields[i].name.toUpper(), int(i));
            recordLength = std::max(recordLength, fields[i].offset + fields[i].length);
        }
        blank = QByteArray(recordLength, ' ');
    }
    int fieldOf(const QString& name) const { return index.value(name.toUpper(), -1); }
};

using Problem = std::function<void(const QString&)>;

// The record an entry names; 0 when it names none.
int recordOf(const QJsonObject& o)
{
    const QJsonValue v = o.value(QLatin1String("record"));
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (d < 1 || d > double(std::numeric_limits<int>::max()) || d != std::floor(d))
        return 0;
    return int(d);
}

// A whole row from "values": fields the object does not name are blank.
Texts valueTexts(const Layout& layout, const QJsonValue& values, const Place& at, const Problem& problem)
{
    Texts t;
    t.items.resize(qsizetype(layout.fields.size()));
    for (qsizetype i = 0; i < t.items.size(); ++i)
        t.items[i].field = int(i);
    if (!values.isObject()) {
        problem(QStringLiteral("%1: the entry carries no values").arg(at.text()));
        return t;
    }
    const QJsonObject o = values.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const int f = layout.fieldOf(it.key());
        if (f < 0)
            problem(QStringLiteral("%1: names the field %2, which the table does not have").arg(at.text(), it.key()));
        else if (!it.value().isString())
            problem(QStringLiteral("%1: the value of %2 is not a text").arg(at.text(), it.key()));
        else
            t.items[f].after = it.value().toString();
    }
    return t;
}

// A whole row from a message's identity: its texts put into a blank record as the import puts
// them (a date given as month/day/year is stored as yyyymmdd), read back as the table holds them.
Texts identityTexts(const Layout& layout, const QJsonValue& identity, const Place& at, const Problem& problem)
{
    QByteArray record = layout.blank;
    if (!identity.isObject()) {
        problem(QStringLiteral("%1: a stored message without its identity").arg(at.text()));
    } else {
        const QJsonObject o = identity.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const int f = layout.fieldOf(it.key());
            if (f < 0) {
                problem(QStringLiteral("%1: the identity names the field %2, which the table does not have")
                            .arg(at.text(), it.key()));
                continue;
            }
            try {
                dbfcodec::put(layout.fields[size_t(f)], record.data(), DbfValue(it.value().toString()));
            } catch (const Exception& e) {
                problem(QStringLiteral("%1: the identity's %2 does not fit the table: %3").arg(at.text(), it.key(), e.message()));
            }
        }
    }
    Texts t;
    t.items.resize(qsizetype(layout.fields.size()));
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        t.items[qsizetype(i)].field = int(i);
        t.items[qsizetype(i)].after = dbfcodec::rawText(layout.fields[i], record.constData());
    }
    return t;
}

Texts changeTexts(const Layout& layout, const QJsonValue& changes, const char* beforeKey, const char* afterKey,
                  const Place& at, const Problem& problem)
{
    Texts t;
    t.change = true;
    if (!changes.isArray()) {
        problem(QStringLiteral("%1: the entry carries no changes").arg(at.text()));
        return t;
    }
    for (const QJsonValue& c : changes.toArray()) {
        const QJsonObject o = c.toObject();
        const QString name = o.value(QLatin1String("field")).toString();
        const int f = layout.fieldOf(name);
        const QJsonValue before = o.value(QLatin1String(beforeKey));
        const QJsonValue after = o.value(QLatin1String(afterKey));
        if (f < 0)
            problem(QStringLiteral("%1: changes the field %2, which the table does not have").arg(at.text(), name));
        else if (!before.isString() || !after.isString())
            problem(QStringLiteral("%1: the change of %2 lacks its texts").arg(at.text(), name));
        else
            t.items.append({f, before.toString(), after.toString()});
    }
    return t;
}

QString quoted(const QString& text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

// ---------------------------------------------------------------------------------------------
// The rows' story as the entries tell it, once for a model of rows: sums (every row) or texts
// (a few rows, to name what differs).

template <class Model> class Replay {
public:
    // immediate: a change counts when its entry is read (it was made with its entry); else it
    // waits for the entry that says it was applied.
    Replay(const Layout& layout, Model& model, bool windowed, bool immediate)
        : layout_(layout), model_(model), windowed_(windowed), immediate_(immediate)
    {
    }

    qint64 prunedUpTo() const { return prunedUpTo_; }

    void message(const Entry& e, const Place& at)
    {
        const QString kind = e.object.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("pruned")) {
            prunedUpTo_ = std::max(prunedUpTo_, e.object.value(QLatin1String("records")).toInteger());
            return;
        }
        if (kind != QLatin1String("message")) {
            model_.note(QStringLiteral("%1: an entry of kind \"%2\", which this check does not know").arg(at.text(), kind));
            return;
        }
        if (e.object.value(QLatin1String("outcome")).toString() != QLatin1String("stored"))
            return;  // sent again or set aside: no row of its own
        const int record = recordOf(e.object);
        if (record == 0) {
            model_.problem(QStringLiteral("%1: a stored message that names no row").arg(at.text()));
            return;
        }
        if (!model_.follows(record))
            return;
        model_.origin(record, texts(identityTexts(layout_, e.object.value(QLatin1String("identity")), at, problem())), at);
    }

    void history(const Entry& e, const Place& at)
    {
        const QJsonObject& o = e.object;
        const QString kind = o.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("adoption"))
            return;
        const int record = recordOf(o);
        if (record == 0) {
            model_.problem(QStringLiteral("%1: a \"%2\" entry that names no row").arg(at.text(), kind));
            return;
        }
        if (kind == QLatin1String("applied") || kind == QLatin1String("not applied")) {
            const qint64 of = o.value(QLatin1String("of")).toInteger();
            const auto it = pending_.find(of);
            if (it == pending_.end()) {
                // Two programs starting at once may both resolve one change; in a window, the
                // change may lie before it.
                if (!windowed_ && model_.follows(record))
                    model_.note(QStringLiteral("%1: resolves entry %2, which is no change waiting").arg(at.text()).arg(of));
                return;
            }
            const Pending p = it.value();
            pending_.erase(it);
            if (kind == QLatin1String("applied") && model_.follows(p.record))
                apply(p);
            return;
        }
        if (kind == QLatin1String("adopted")) {
            if (model_.follows(record))
                model_.origin(record, texts(valueTexts(layout_, o.value(QLatin1String("values")), at, problem())), at);
        } else if (kind == QLatin1String("outside")) {
            for (const QJsonValue& c : o.value(QLatin1String("changes")).toArray()) {
                const QJsonObject co = c.toObject();
                model_.problem(QStringLiteral("%1: row %2 was changed outside Hematix: its %3 was %4 by its history, %5 found")
                                   .arg(at.text())
                                   .arg(record)
                                   .arg(co.value(QLatin1String("field")).toString(),
                                        quoted(co.value(QLatin1String("history")).toString()),
                                        quoted(co.value(QLatin1String("found")).toString())));
            }
            if (model_.follows(record))
                model_.change(record,
                              texts(changeTexts(layout_, o.value(QLatin1String("changes")), "history", "found", at, problem())),
                              at);
        } else if (kind == QLatin1String("refused")) {
            // An edit not made (another program changed the row first): the row is as the
            // entries before it say; only its fields are checked.
            if (model_.follows(record))
                changeTexts(layout_, o.value(QLatin1String("changes")), "tried", "found", at, problem());
        } else if (kind == QLatin1String("edit") || kind == QLatin1String("entered") || kind == QLatin1String("deleted")
                   || kind == QLatin1String("restored")) {
            Pending p;
            p.kind = kind;
            p.record = record;
            p.at = at;
            // A row not followed has no texts to keep; its change is still to be resolved.
            if (model_.follows(record) && kind == QLatin1String("edit"))
                p.payload = texts(changeTexts(layout_, o.value(QLatin1String("changes")), "old", "new", at, problem()));
            else if (model_.follows(record) && kind != QLatin1String("deleted"))
                p.payload = texts(valueTexts(layout_, o.value(QLatin1String("values")), at, problem()));
            if (immediate_) {
                if (model_.follows(record))
                    apply(p);
                return;
            }
            // Every change is written pending and waits for its resolution, whatever it says.
            pending_.insert(e.seq, p);
        } else {
            model_.note(QStringLiteral("%1: an entry of kind \"%2\", which this check does not know").arg(at.text(), kind));
        }
    }

    // Changes never resolved: their rows cannot be compared.
    void finish()
    {
        for (auto it = pending_.cbegin(); it != pending_.cend(); ++it) {
            const QString what = it->kind == QLatin1String("entered")   ? QStringLiteral("typing in")
                                 : it->kind == QLatin1String("deleted")  ? QStringLiteral("deletion")
                                 : it->kind == QLatin1String("restored") ? QStringLiteral("restore")
                                                                         : it->kind;
            model_.problem(QStringLiteral("%1: the %2 of row %3 was never resolved (neither applied nor not applied follows it)")
                               .arg(it->at.text(), what)
                               .arg(it->record));
            model_.unresolved(it->record, it->at);
        }
        pending_.clear();
    }

private:
    struct Pending {
        QString kind;
        int record = 0;
        Place at;
        typename Model::Payload payload{};
    };

    typename Model::Payload texts(const Texts& t) { return model_.payload(t); }
    Problem problem()
    {
        return [this](const QString& text) { model_.problem(text); };
    }

    void apply(const Pending& p)
    {
        if (p.kind == QLatin1String("edit")) {
            model_.change(p.record, p.payload, p.at);
        } else if (p.kind == QLatin1String("entered")) {
            model_.origin(p.record, p.payload, p.at);
        } else if (p.kind == QLatin1String("deleted")) {
            model_.setDeleted(p.record, true);
        } else {
            model_.restore(p.record, p.payload, p.at);
            model_.setDeleted(p.record, false);
        }
    }

    const Layout& layout_;
    Model& model_;
    bool windowed_;
    bool immediate_;
    QMap<qint64, Pending> pending_;  // in chain order, so that what is left is named in order
    qint64 prunedUpTo_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Every row as a sum, for the check.

struct Findings {
    VerifyReport& report;
    void add(const QString& text)
    {
        if (report.breaks.size() < kMaxBreaks)
            report.breaks.append(text);
        else
            ++report.breaksNotListed;
    }
};

class SumModel {
public:
    using Payload = Sum;
    enum Flag : quint8 { Origin = 1, Deleted = 2, Unresolved = 4, RestoredOther = 8, Seen = 16 };
    struct Row {
        Sum sum;
        quint8 flags = 0;
    };

    SumModel(const FieldHash& hash, const Layout* layout, int rows, bool windowed, Findings& findings)
        : hash_(hash), layout_(layout), windowed_(windowed), findings_(findings)
    {
        rows_.resize(size_t(std::max(rows, 0)));
    }

    Sum payload(const Texts& t) const
    {
        Sum s;
        for (const FieldText& c : t.items) {
            s += hash_.of(c.field, c.after);
            if (t.change)
                s -= hash_.of(c.field, c.before);
        }
        return s;
    }

    // Without a table the trail is checked, no row.
    bool follows(int) const { return layout_ != nullptr; }
    void problem(const QString& text) { findings_.add(text); }
    void note(const QString& text)
    {
        if (findings_.report.notes.size() < kMaxBreaks)
            findings_.report.notes.append(text);
    }

    void origin(int record, const Sum& s, const Place& at)
    {
        Row* r = row(record, at, true);
        if (!r)
            return;
        if (r->flags & Origin) {
            problem(QStringLiteral("%1: a second origin for row %2").arg(at.text()).arg(record));
            return;
        }
        r->sum = s;
        r->flags |= Origin;
    }
    void change(int record, const Sum& s, const Place& at)
    {
        if (Row* r = followed(record, at))
            r->sum += s;
    }
    void restore(int record, const Sum& s, const Place& at)
    {
        Row* r = followed(record, at);
        if (!r || !(r->flags & Origin))
            return;
        if (r->sum != s) {
            problem(QStringLiteral("%1: row %2 was restored holding other values than its history says: it was "
                                   "changed outside Hematix while deleted")
                        .arg(at.text())
                        .arg(record));
            r->flags |= RestoredOther;
        }
        r->sum = s;
    }
    void setDeleted(int record, bool deleted)
    {
        if (Row* r = followed(record, {}))
            r->flags = quint8(deleted ? r->flags | Deleted : r->flags & ~Deleted);
    }
    void unresolved(int record, const Place& at)
    {
        if (Row* r = followed(record, at))
            r->flags |= Unresolved;
    }

    std::vector<Row>& rows() { return rows_; }
    const QMap<int, Place>& beyond() const { return beyond_; }

private:
    // The row's state; null for a row past the table's end (remembered, once, as a break).
    Row* row(int record, const Place& at, bool origin)
    {
        if (record >= 1 && size_t(record) <= rows_.size())
            return &rows_[size_t(record) - 1];
        if ((origin || !windowed_) && !at.isEmpty() && beyond_.size() < kMaxBreaks && !beyond_.contains(record))
            beyond_.insert(record, at);
        return nullptr;
    }
    // In a window only rows whose origin is in it are followed.
    Row* followed(int record, const Place& at)
    {
        Row* r = row(record, at, false);
        return r && (!windowed_ || (r->flags & Origin)) ? r : nullptr;
    }

    const FieldHash& hash_;
    const Layout* layout_;
    bool windowed_;
    Findings& findings_;
    std::vector<Row> rows_;
    QMap<int, Place> beyond_;
};

// A few rows as their texts, to name what differs.
class TextModel {
public:
    using Payload = Texts;
    struct Row {
        QStringList texts;
        bool origin = false;
        QStringList problems;
    };

    TextModel(const Layout& layout, const QList<int>& records) : layout_(layout)
    {
        for (int r : records)
            wanted_.insert(r);
    }

    Texts payload(const Texts& t) const { return t; }
    bool follows(int record) const { return wanted_.contains(record); }
    // The check names what is wrong with the trail; here only the rows' texts are wanted.
    void problem(const QString&) {}
    void note(const QString&) {}

    void origin(int record, const Texts& t, const Place&)
    {
        Row& r = rows_[record];
        if (r.origin)
            return;
        r.origin = true;
        r.texts = QStringList(qsizetype(layout_.fields.size()));
        for (const FieldText& c : t.items)
            r.texts[c.field] = c.after;
    }
    void change(int record, const Texts& t, const Place& at)
    {
        const auto it = rows_.find(record);
        if (it == rows_.end())
            return;
        for (const FieldText& c : t.items) {
            QString& now = it->texts[c.field];
            if (now != c.before)
                it->problems << QStringLiteral("%1: changed %2 from %3 to %4 while its trail says it held %5")
                                    .arg(at.text(), layout_.fields[size_t(c.field)].name, quoted(c.before),
                                         quoted(c.after), quoted(now));
            now = c.after;
        }
    }
    void restore(int record, const Texts& t, const Place&)
    {
        const auto it = rows_.find(record);
        if (it != rows_.end())
            for (const FieldText& c : t.items)
                it->texts[c.field] = c.after;
    }
    void setDeleted(int, bool) {}
    void unresolved(int record, const Place& at)
    {
        const auto it = rows_.find(record);
        if (it != rows_.end())
            it->problems << QStringLiteral("%1: a change never resolved").arg(at.text());
    }

    const QHash<int, Row>& rows() const { return rows_; }

private:
    const Layout& layout_;
    QSet<int> wanted_;
    QHash<int, Row> rows_;
};

// ---------------------------------------------------------------------------------------------
// The links of one chain.

class LinkCheck {
public:
    LinkCheck(bool windowed, Findings& findings) : windowed_(windowed), findings_(findings) {}

    void take(const Entry& e, const Place& at)
    {
        if (!started_) {
            started_ = true;
            if (!windowed_ && !(e.seq == 1 && e.prev == zeroHash())) {
                if (e.seq == 1)
                    findings_.add(QStringLiteral("%1: the first entry does not start the chain (its link is not 64 zeros)").arg(at.text()));
                else {
                    firstSeq_ = e.seq;
                    firstPrev_ = e.prev;
                    firstAt_ = at;
                }
            }
        } else if (known_) {
            if (e.seq != seq_ + 1)
                findings_.add(QStringLiteral("%1: entry %2 follows entry %3 (%4): entries are missing or out of order")
                                  .arg(at.text())
                                  .arg(e.seq)
                                  .arg(seq_)
                                  .arg(last_.text()));
            else if (e.prev != hash_)
                findings_.add(QStringLiteral("%1: entry %2 does not link to the entry before it (%3): one of the two "
                                             "lines was changed")
                                  .arg(at.text())
                                  .arg(e.seq)
                                  .arg(last_.text()));
        }
        if (e.object.value(QLatin1String("kind")).toString() == QLatin1String("pruned"))
            prunings_.append({e.object.value(QLatin1String("lastSeq")).toInteger(),
                              e.object.value(QLatin1String("last")).toString().toLatin1()});
        seq_ = e.seq;
        hash_ = e.hash;
        last_ = at;
        known_ = true;
    }
    // A line that is not an entry: the next entry's link has nothing to be checked against.
    void lost() { known_ = false; }

    void finish()
    {
        if (firstSeq_ == 0)
            return;
        for (const auto& [seq, hash] : prunings_)
            if (seq == firstSeq_ - 1 && hash == firstPrev_)
                return;
        findings_.add(QStringLiteral("%1: entries before %2 are missing (no pruning entry accounts for them)")
                          .arg(firstAt_.text())
                          .arg(firstSeq_));
    }

private:
    bool windowed_;
    Findings& findings_;
    bool started_ = false;
    bool known_ = false;
    qint64 seq_ = 0;
    QByteArray hash_;
    Place last_;
    qint64 firstSeq_ = 0;
    QByteArray firstPrev_;
    Place firstAt_;
    QList<QPair<qint64, QByteArray>> prunings_;
};

// ---------------------------------------------------------------------------------------------
// One run of the check.

QString dateText(const QString& raw)
{
    if (raw.size() == 8) {
        const QDate d = QDate::fromString(raw, QStringLiteral("yyyyMMdd"));
        if (d.isValid())
            return d.toString(Qt::ISODate);
    }
    return raw.isEmpty() ? QStringLiteral("no date") : raw;
}

struct Progress {
    const VerifyOptions& options;
    qint64 total = 0;
    qint64 doneBefore = 0;
    qint64 lastTold = -1;
    bool cancelled() { return options.cancel && options.cancel->load(); }
    void tell(qint64 done)
    {
        if (options.progress && (done - lastTold >= (1 << 22) || done == total)) {
            lastTold = done;
            options.progress(std::min(done, total), total);
        }
    }
};

class Run {
public:
    Run(TrailSource& source, const VerifyOptions& options, const FieldHash& hash, VerifyReport& report)
        : source_(source), options_(options), hash_(hash), report_(report), findings_{report}, progress_{options}
    {
        const QDate today = options.today.isValid() ? options.today : QDate::currentDate();
        windowed_ = options.days > 0;
        if (windowed_)
            since_ = today.addDays(-options.days);
    }

    void go()
    {
        const auto messages = source_.chain(TrailSource::Which::Messages, since_);
        const auto history = source_.chain(TrailSource::Which::History, since_);
        progress_.total += messages->total() + history->total();
        openTable();
        SumModel model(hash_, layout_.get(), rows_ ? rows_->count() : 0, windowed_, findings_);
        const Layout none{std::vector<DbfField>{}};
        Replay<SumModel> replay(layout_ ? *layout_ : none, model, windowed_, source_.changesCommitWithEntries());
        if (!readChain(*messages, report_.messagesHead, [&](const Entry& e, const Place& at) { replay.message(e, at); }))
            return;
        if (!readChain(*history, report_.historyHead, [&](const Entry& e, const Place& at) { replay.history(e, at); }))
            return;
        replay.finish();
        if (!rows_)
            return;
        for (auto it = model.beyond().cbegin(); it != model.beyond().cend(); ++it)
            findings_.add(QStringLiteral("%1: row %2 is not in the table, which has %3 rows")
                              .arg(it->text())
                              .arg(it.key())
                              .arg(rows_->count()));
        compareRows(model, replay.prunedUpTo());
    }

private:
    void openTable()
    {
        QString problem;
        rows_ = source_.rows(problem);
        if (!rows_) {
            findings_.add(problem);
            return;
        }
        layout_ = std::make_unique<Layout>(rows_->fields());
        progress_.total += qint64(rows_->count()) * rows_->unit();
    }

    template <class Take> bool readChain(ChainInput& input, Head& head, Take take)
    {
        LinkCheck links(windowed_, findings_);
        Entry e;
        Place at;
        qint64 lines = 0;
        while (input.next(e, at)) {
            if ((++lines & 1023) == 0) {
                if (progress_.cancelled()) {
                    report_.cancelled = true;
                    return false;
                }
                progress_.tell(progress_.doneBefore + input.done());
            }
            if (e.lineNumber == 0) {
                findings_.add(e.problem);
                links.lost();
                continue;
            }
            if (!e.complete && !e.line.isEmpty()) {
                if (input.inLastPart())
                    report_.notes.append(QStringLiteral("%1: a last line without its line feed, an append a crash cut "
                                                        "short (never synced, not part of the chain; the next append "
                                                        "removes it)")
                                             .arg(at.text()));
                else
                    findings_.add(QStringLiteral("%1: a line cut short (no line feed) in a file the chain goes on after")
                                      .arg(at.text()));
                links.lost();
                continue;
            }
            if (!e.hash.isEmpty())
                head = Head{e.seq, e.hash, e.line};
            if (!e.problem.isEmpty()) {
                findings_.add(QStringLiteral("%1: not an entry: %2").arg(at.text(), e.problem));
                links.lost();
                continue;
            }
            ++report_.entries;
            links.take(e, at);
            take(e, at);
        }
        links.finish();
        progress_.doneBefore += input.done();
        return true;
    }

    QString label(int record, const char* bytes) const
    {
        const Layout& layout = *layout_;
        const int num = layout.fieldOf(QStringLiteral("NUM"));
        const int dat = layout.fieldOf(QStringLiteral("DAT"));
        const QString sample = num >= 0 ? dbfcodec::rawText(layout.fields[size_t(num)], bytes).trimmed() : QString();
        const QString date = dat >= 0 ? dbfcodec::rawText(layout.fields[size_t(dat)], bytes) : QString();
        return QStringLiteral("row %1 (sample %2, %3)")
            .arg(record)
            .arg(sample.isEmpty() ? QStringLiteral("none") : sample, dateText(date));
    }

    void compareRows(SumModel& model, qint64 prunedUpTo)
    {
        const Layout& layout = *layout_;
        QHash<int, qsizetype> breakOf;
        QString text;
        std::vector<SumModel::Row>& rows = model.rows();
        // In a window only rows whose origin is in it are compared: those before the first of
        // them need not be read.
        int from = 1;
        if (windowed_)
            while (size_t(from) <= rows.size() && !(rows[size_t(from) - 1].flags & SumModel::Origin))
                ++from;
        qint64 visited = 0;
        rows_->scan(from, [&](int record, const char* bytes) {
            if (record < 1 || size_t(record) > rows.size())
                return true;
            if ((visited++ & 4095) == 0) {
                if (progress_.cancelled()) {
                    report_.cancelled = true;
                    return false;
                }
                progress_.tell(progress_.doneBefore + qint64(record - 1) * rows_->unit());
            }
            SumModel::Row& r = rows[size_t(record) - 1];
            r.flags |= SumModel::Seen;
            const bool deleted = bytes[0] == '*';
            const bool trailDeleted = r.flags & SumModel::Deleted;
            if (r.flags & SumModel::Unresolved)
                return true;
            if (!(r.flags & SumModel::Origin)) {
                if (windowed_)
                    return true;
                if (record <= prunedUpTo) {
                    ++report_.originPruned;
                } else {
                    findings_.add(QStringLiteral("%1 has no origin%2")
                                      .arg(label(record, bytes), deleted ? QStringLiteral(" (it is deleted)") : QString()));
                    return true;
                }
            }
            if (deleted && !trailDeleted)
                findings_.add(QStringLiteral("%1 was deleted outside Hematix").arg(label(record, bytes)));
            else if (!deleted && trailDeleted)
                findings_.add(QStringLiteral("%1 is deleted by its history but not in the table: it was undeleted outside Hematix")
                                  .arg(label(record, bytes)));
            if (!(r.flags & SumModel::Origin))
                return true;
            ++report_.rowsChecked;
            Sum sum;
            for (size_t f = 0; f < layout.fields.size(); ++f) {
                dbfcodec::rawText(layout.fields[f], bytes, text);
                sum += hash_.of(int(f), text);
            }
            if (sum != r.sum) {
                report_.changedOutside.append(record);
                if (report_.breaks.size() < kMaxBreaks)
                    breakOf.insert(record, report_.breaks.size());
                findings_.add(QStringLiteral("%1 changed outside Hematix").arg(label(record, bytes)));
            } else if (r.flags & SumModel::RestoredOther) {
                report_.changedOutside.append(record);
            }
            return true;
        });
        progress_.tell(progress_.total);
        if (report_.cancelled)
            return;
        // A row the trail made that the source does not have (a store's row removed by hand; a
        // dBase table has every row up to its count).
        for (size_t i = size_t(from) - 1; i < rows.size(); ++i)
            if ((rows[i].flags & (SumModel::Origin | SumModel::Seen | SumModel::Unresolved)) == SumModel::Origin)
                findings_.add(QStringLiteral("row %1 is not in the table: it was removed outside Hematix").arg(i + 1));
        nameFields(breakOf);
    }

    // The fields that differ, for the first rows found changed: what the trail says they hold
    // against the table.
    void nameFields(const QHash<int, qsizetype>& breakOf)
    {
        QList<int> records;
        for (auto it = breakOf.cbegin(); it != breakOf.cend() && records.size() < 20; ++it)
            records.append(it.key());
        if (records.isEmpty())
            return;
        const QHash<int, ExpectedRow> expected = expectedRows(source_, layout_->fields, records, since_);
        for (int record : records) {
            const auto it = expected.find(record);
            if (it == expected.end())
                continue;
            QStringList parts;
            const QByteArray bytes = rows_->readFresh(record);
            if (bytes.size() < layout_->recordLength)
                continue;
            for (qsizetype f = 0; f < it->values.size(); ++f) {
                const QString now = dbfcodec::rawText(layout_->fields[size_t(f)], bytes.constData());
                if (now != it->values[f].second)
                    parts << QStringLiteral("%1 is %2, its trail says %3")
                                 .arg(it->values[f].first, quoted(now), quoted(it->values[f].second));
            }
            QString& line = report_.breaks[breakOf.value(record)];
            if (!parts.isEmpty())
                line += QStringLiteral(": ") + parts.join(QStringLiteral("; "));
            if (!it->problems.isEmpty())
                line += QStringLiteral(" (") + it->problems.join(QStringLiteral("; ")) + QLatin1Char(')');
        }
    }

    TrailSource& source_;
    const VerifyOptions& options_;
    const FieldHash& hash_;
    VerifyReport& report_;
    Findings findings_;
    Progress progress_;
    bool windowed_ = false;
    QDate since_;
    std::unique_ptr<RowInput> rows_;
    std::unique_ptr<Layout> layout_;
};

} // namespace

VerifyReport verify(const QString& programFolder, const VerifyOptions& options)
{
    return verify(*folderTrail(programFolder, options.tableFile), options);
}

VerifyReport verify(TrailSource& source, const VerifyOptions& options)
{
    const FieldHash hash;
    VerifyReport report;
    for (int round = 1;; ++round) {
        const QByteArray before = source.fingerprint();
        report = VerifyReport{};
        report.rounds = round;
        Run(source, options, hash, report).go();
        if (report.cancelled || round == 3 || source.fingerprint() == before)
            return report;
    }
}

QHash<int, ExpectedRow> expectedRows(const QString& programFolder, const std::vector<DbfField>& fields,
                                     const QList<int>& records, const QDate& since)
{
    return expectedRows(*folderTrail(programFolder, {}), fields, records, since);
}

QHash<int, ExpectedRow> expectedRows(TrailSource& source, const std::vector<DbfField>& fields, const QList<int>& records,
                                     const QDate& since)
{
    const Layout layout(fields);
    TextModel model(layout, records);
    Replay<TextModel> replay(layout, model, since.isValid(), source.changesCommitWithEntries());
    for (const auto which : {TrailSource::Which::Messages, TrailSource::Which::History}) {
        const auto chain = source.chain(which, since, &records);
        Entry e;
        Place at;
        while (chain->next(e, at)) {
            if (!e.complete || !e.problem.isEmpty())
                continue;
            if (which == TrailSource::Which::Messages)
                replay.message(e, at);
            else
                replay.history(e, at);
        }
    }
    replay.finish();
    QHash<int, ExpectedRow> out;
    for (auto it = model.rows().cbegin(); it != model.rows().cend(); ++it) {
        if (!it->origin)
            continue;
        ExpectedRow row;
        for (size_t f = 0; f < fields.size(); ++f)
            row.values.append({fields[f].name, it->texts[qsizetype(f)]});
        row.problems = it->problems;
        out.insert(it.key(), row);
    }
    return out;
}

} // namespace audit
