#pragma once
// A loaded report as text, one object a line: class, name, native measures and design-pixel
// bounds, then what a reader compares with the layout tables (type, font, alignment, frame).
#include <QString>

class TCustomReport;

namespace layoutdump {
QString dump(const TCustomReport& report);
} // namespace layoutdump
