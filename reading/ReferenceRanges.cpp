#include "reading/ReferenceRanges.h"

#include "platform/RegularFile.h"

#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <cmath>

namespace reading {

const QStringList& ReferenceRanges::fields()
{
    static const QStringList names = {
        QStringLiteral("WBC"), QStringLiteral("RBC"), QStringLiteral("HGB"),  QStringLiteral("HCT"),
        QStringLiteral("PLT"), QStringLiteral("LY1"), QStringLiteral("MO1"),  QStringLiteral("GR1"),
        QStringLiteral("LY2"), QStringLiteral("MO2"), QStringLiteral("GR2"),  QStringLiteral("MCV"),
        QStringLiteral("MCH"), QStringLiteral("MCHC"), QStringLiteral("RDV"), QStringLiteral("MPV"),
        QStringLiteral("PCT"), QStringLiteral("PDW"), QStringLiteral("COE"),  QStringLiteral("RETIC"),
    };
    return names;
}

int ReferenceRanges::indexOf(const QString& field)
{
    const QStringList& names = fields();
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(field, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

ReferenceRanges ReferenceRanges::defaults()
{
    // The Merck Manual's complete blood count table, men and women taken together (the table
    // holds no sex); granulocytes by its segmented neutrophils. MPV, PCT, PDW, COE and RETIC are
    // left to the lab: their limits depend on the method.
    struct Default {
        const char* field;
        double low, high;
    };
    static constexpr Default table[] = {
        {"WBC", 4.5, 11},  {"RBC", 4.0, 5.9},  {"HGB", 120, 170}, {"HCT", 36, 51},   {"PLT", 140, 450},
        {"LY1", 22, 44},   {"MO1", 4, 11},     {"GR1", 40, 70},   {"LY2", 1.0, 4.8}, {"MO2", 0.2, 1.2},
        {"GR2", 1.8, 7.7}, {"MCV", 80, 100},   {"MCH", 28, 32},   {"MCHC", 320, 360}, {"RDV", 11.5, 14.5},
    };
    ReferenceRanges r;
    for (const Default& d : table)
        r.setAdult(indexOf(QString::fromLatin1(d.field)), {d.low, d.high});
    return r;
}

std::array<DeltaLimit, ReferenceRanges::kFieldCount> ReferenceRanges::defaultDeltas()
{
    // Moderate starting points (see the README; each lab must check them): the counts that may
    // move with illness or treatment within a week get a wide share, the red cell indices, which
    // hardly move within days, a narrow one. The differential, the platelet indices, COE and
    // RETIC are left to the lab.
    struct Default {
        const char* field;
        double percent;
        int days;
    };
    static constexpr Default table[] = {
        {"WBC", 50, 7}, {"RBC", 20, 7}, {"HGB", 20, 7}, {"HCT", 20, 7}, {"PLT", 50, 7},
        {"MCV", 5, 7},  {"MCH", 5, 7},  {"MCHC", 5, 7},
    };
    std::array<DeltaLimit, kFieldCount> d{};
    for (const Default& t : table)
        d[size_t(indexOf(QString::fromLatin1(t.field)))] = {t.percent, t.days};
    return d;
}

Limits ReferenceRanges::limitsFor(int i, std::optional<double> ageYears) const
{
    if (childUnder_ && ageYears && *ageYears < *childUnder_ && !child_[size_t(i)].empty())
        return child_[size_t(i)];
    return adult_[size_t(i)];
}

namespace {

QString limitsText(const Limits& l)
{
    return ReferenceRanges::limitText(l.low) + QStringLiteral("; ") + ReferenceRanges::limitText(l.high);
}

} // namespace

QString ReferenceRanges::limitText(std::optional<double> limit)
{
    return limit ? QString::number(*limit, 'g', 10) : QString();
}

bool ReferenceRanges::readLimit(const QString& text, std::optional<double>* out)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        *out = std::nullopt;
        return true;
    }
    bool ok = false;
    QString dotted = t;
    dotted.replace(u',', u'.');
    const double v = QLocale::c().toDouble(dotted, &ok);
    if (!ok || !std::isfinite(v) || v < 0)
        return false;
    *out = v;
    return true;
}

bool ReferenceRanges::readDeltaPercent(const QString& text, std::optional<double>* out)
{
    std::optional<double> v;
    if (!readLimit(text, &v) || (v && *v <= 0))
        return false;
    *out = v;
    return true;
}

bool ReferenceRanges::readDeltaDays(const QString& text, std::optional<int>* out)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        *out = std::nullopt;
        return true;
    }
    bool ok = false;
    const int days = t.toInt(&ok);
    if (!ok || days < 1 || days > kMaxDeltaDays)
        return false;
    *out = days;
    return true;
}

QByteArray ReferenceRanges::toText() const
{
    QString t = QStringLiteral(
        "; Hematix reference limits: VALUE = LOW; HIGH (either may be left empty: that side is not flagged).\n"
        "; The limits are sex-independent: the result table holds no sex.\n"
        "[adult]\n");
    for (int i = 0; i < kFieldCount; ++i)
        t += fields()[i] + QStringLiteral(" = ") + limitsText(adult_[size_t(i)]) + u'\n';
    t += QStringLiteral("\n; Under the age \"under\" (years) a value's child limits apply where it has any.\n[child]\n");
    t += QStringLiteral("under = ") + (childUnder_ ? QString::number(*childUnder_) : QString()) + u'\n';
    for (int i = 0; i < kFieldCount; ++i)
        if (!child_[size_t(i)].empty())
            t += fields()[i] + QStringLiteral(" = ") + limitsText(child_[size_t(i)]) + u'\n';
    // Every value is written, an unchecked one with empty limits: a value missing from the section
    // keeps its default, as in a file written before the section existed.
    t += QStringLiteral("\n; Delta check: VALUE = PERCENT; DAYS, a change by more than PERCENT since the patient's previous\n"
                        "; result at most DAYS days before is marked (either left empty: the value is not checked).\n[delta]\n");
    for (int i = 0; i < kFieldCount; ++i) {
        const DeltaLimit& d = delta_[size_t(i)];
        t += fields()[i] + QStringLiteral(" = ") + limitText(d.percent) + QStringLiteral("; ")
             + (d.days ? QString::number(*d.days) : QString()) + u'\n';
    }
    return t.toUtf8();
}

ReferenceRanges ReferenceRanges::fromText(const QByteArray& bytes, QStringList* problems)
{
    ReferenceRanges r;
    std::array<Limits, kFieldCount>* set = nullptr;
    bool inChild = false;
    bool inDelta = false;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = QString::fromUtf8(lines[n]).trimmed();
        auto problem = [&](const QString& why) {
            if (problems)
                *problems << QStringLiteral("%1 line %2 \"%3\": %4").arg(QLatin1String(kFileName)).arg(n + 1).arg(line.left(80), why);
        };
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = line.mid(1, line.size() - 2).trimmed().toLower();
            inChild = name == QLatin1String("child");
            inDelta = name == QLatin1String("delta");
            set = name == QLatin1String("adult") ? &r.adult_ : inChild ? &r.child_ : nullptr;
            if (!set && !inDelta)
                problem(QStringLiteral("no such section (adult, child, delta)"));
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) {
            problem(QStringLiteral("no \"=\""));
            continue;
        }
        if (!set && !inDelta)
            continue; // under a section already named as unknown, or before any: skipped
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1);
        if (inChild && key.compare(QLatin1String("under"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const int years = value.trimmed().toInt(&ok);
            if (value.trimmed().isEmpty())
                r.childUnder_ = std::nullopt;
            else if (ok && years > 0 && years < 150)
                r.childUnder_ = years;
            else
                problem(QStringLiteral("the age is no whole number of years from 1 to 149"));
            continue;
        }
        const int i = indexOf(key);
        if (i < 0) {
            problem(QStringLiteral("no such value"));
            continue;
        }
        const QStringList parts = value.split(u';');
        if (inDelta) {
            DeltaLimit d;
            if (parts.size() != 2 || !readDeltaPercent(parts[0], &d.percent) || !readDeltaDays(parts[1], &d.days))
                problem(QStringLiteral("not \"PERCENT; DAYS\" with a share above 0 and whole days from 1 to %1")
                            .arg(kMaxDeltaDays));
            else
                r.delta_[size_t(i)] = d;
            continue;
        }
        Limits l;
        if (parts.size() != 2 || !readLimit(parts[0], &l.low) || !readLimit(parts[1], &l.high)) {
            problem(QStringLiteral("not \"LOW; HIGH\" with numbers"));
            continue;
        }
        if (l.low && l.high && *l.low > *l.high) {
            problem(QStringLiteral("the low limit is above the high one"));
            continue;
        }
        (*set)[size_t(i)] = l;
    }
    return r;
}

ReferenceRanges ReferenceRanges::load(const QString& path, QStringList* problems)
{
    QByteArray bytes;
    QString error;
    switch (regularfile::readWhole(path, kMaxFileSize, &bytes, &error)) {
    case regularfile::Read::Done:
        return fromText(bytes, problems);
    case regularfile::Read::Missing:
        return defaults();
    default:
        if (problems)
            *problems << error + QStringLiteral(": the default limits apply");
        return defaults();
    }
}

void ReferenceRanges::save(const QString& path) const
{
    const QFileInfo info(path);
    // Something that is no file in its place is the lab's, not ours to replace.
    if (info.exists() && !info.isFile())
        throw ERangesError(QStringLiteral("Unable to write to %1: it is not a file").arg(info.absoluteFilePath()));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(toText()) < 0 || !file.commit())
        throw ERangesError(QStringLiteral("Unable to write to %1: %2").arg(info.absoluteFilePath(), file.errorString()));
}

} // namespace reading
