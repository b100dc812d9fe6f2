#pragma once
// A loaded report as text, one object a line: class, name, native measures and design-pixel
// bounds, then what a reader compares with the layout tables (type, font, alignment, frame).
// Knows: the report model's objects and how layout text writes numbers. Must not know: how
// layouts are read, generation, painting. Untrusted: nothing; the report was built by the loader.
#include <QString>

class TCustomReport;

namespace layoutdump {
QString dump(const TCustomReport& report);
} // namespace layoutdump
