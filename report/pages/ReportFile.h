#pragma once
// Looking into saved report files outside the preview: a description of the header and the page
// records with a check of every link, and rendering of the pages to PNG images or one PDF. The
// hematix-pages tool is a thin shell around these.
#include <QSizeF>
#include <QString>
#include <QStringList>

class QTextStream;

namespace reportfile {

// Writes the header and the page list of the file, checking the links and every page. Returns
// true when the file is sound; problems are written to out as they are found.
bool describe(const QString& fileName, QTextStream& out);

// Renders page `page` (0: every page) to OUTDIR/page-NNN.png at dpi pixels per inch. Returns the
// files written. Throws Exception (ERpError, EmfError) naming the file and page.
QStringList renderPng(const QString& fileName, const QString& outDir, double dpi, int page = 0);

// Writes every page to one PDF, each PDF page with the page's own size and orientation. Throws.
void writePdf(const QString& fileName, const QString& pdfName);

// The tool's command line (arguments without the program name). Returns the exit code:
// 0 done, 1 the file is broken or could not be rendered, 2 a usage error.
int runTool(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace reportfile
