#pragma once
// Turns a stored layout into a report: objects created in stored order, properties assigned,
// then fonts, pixel bounds, band order and line formatting settled; data set references are
// bound later, once the windows that own the data sets exist.
//
// Knows: the layout text tree, the report classes and their stored property names and values,
// the built-in layouts and the program folder's copies of them. Must not know: generation,
// painting, windows, where data sets come from (a resolver finds them). Untrusted: the layout
// (a lab may replace its file): its size is bounded, and an unknown class, property or value,
// a name used twice or a measure past a hundred metres raises ELayoutError with its line.
#include "report/model/LayoutText.h"
#include "report/model/RpReport.h"

#include <QLocale>
#include <QStringList>
#include <functional>
#include <memory>

class TDataSet;

namespace layoutloader {

// Builds the report of a parsed layout. Raises ELayoutError with the line of the offending
// object or property.
std::unique_ptr<TReport> build(const LayoutObject& root, const QString& source,
                               const QLocale& locale = QLocale::system());
// Parses and builds.
std::unique_ptr<TReport> load(const QByteArray& text, const QString& source,
                              const QLocale& locale = QLocale::system());
// Reads a layout file (or a Qt resource path). Raises ELayoutError when it cannot be read.
QByteArray readLayoutFile(const QString& path);
std::unique_ptr<TReport> loadFile(const QString& path, const QLocale& locale = QLocale::system());

// The layouts built into the program: "Report" (the result sheet) and "Unit7" (the period
// report).
QStringList builtinNames();
// Where a built-in layout comes from: NAME.layout in the program folder when that file exists
// (so a lab can change its texts without a new build), else the built-in copy. Empty for an
// unknown name.
QString builtinPath(const QString& name, const QString& programFolder);
std::unique_ptr<TReport> loadBuiltin(const QString& name, const QString& programFolder,
                                     const QLocale& locale = QLocale::system());

// Finds a data set by the window and component names of a reference ("Form1", "Table1").
using DataSetResolver = std::function<TDataSet*(const QString& window, const QString& component)>;
// Binds every stored data set reference of the report (its own and its field texts'). Returns
// the references that found no data set; they stay stored for a later try.
QStringList resolveDataSets(TReport& report, const DataSetResolver& resolver);

} // namespace layoutloader
