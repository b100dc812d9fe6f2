#pragma once
// A field text's Mask: numbers formatted with a floating-point format pattern, dates and times with
// a date-time format pattern, as the layouts write them ("0.00", "#,##0.0;(#,##0.0);'zero'",
// "dd.mm.yyyy hh:nn").
//
// Knows: the pattern letters and the system locale's separators and month names.
// Must not know: fields or data sets (the caller hands a value).
// Untrusted: the pattern comes from a layout: any text; the output is bounded by the pattern's
// length and the value's digits, and an unknown letter is copied as it stands.
#include <QDateTime>
#include <QString>

namespace fieldmask {

// Digits placeholders 0 (always) and # (when significant), one '.' for the decimal separator, ','
// anywhere before it for thousands groups, up to three sections for positive;negative;zero, and
// text in quotes or outside the placeholders copied. Exponent forms are not supported: they give
// an empty text.
QString formatFloat(const QString& mask, double value);
// d dd ddd dddd, m mm mmm mmmm (minutes right after an hour), yy yyyy, h hh, n nn, s ss, z zzz,
// am/pm, c (short date and long time), / and : as the locale's separators, quoted text copied.
QString formatDateTime(const QString& mask, const QDateTime& value);
// The system's short date, then, unless the time is exactly midnight, a space and the long time
// without a time zone.
QString dateTimeText(const QDateTime& value);
// The system's long time format without the time zone Qt adds to it.
QString longTimeFormat();

} // namespace fieldmask
