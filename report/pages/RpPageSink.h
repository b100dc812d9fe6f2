#pragma once
// Where the pages of a printer document go while they are drawn: the recorder hands each page of
// the range to its sink and draws the others on throwaway images. The print job's sink belongs to
// the printing room; the page store needs none (the recorder keeps its pages itself).
//
// Knows: the printer settings a document starts from, the canvas a page is drawn on. Must not
// know: recorders, reports or the print service's details.
#include <QString>

class PageCanvas;
class TPrinterSettings;

class TRpPageSink {
public:
    virtual ~TRpPageSink() = default;

    // A document starts with the settings' printer, page layout and resolution; whatever an
    // earlier document left is given up first.
    virtual void Begin(const TPrinterSettings& settings, const QString& title) = 0;
    // Between Begin and Finish or Abort.
    virtual bool Open() const = 0;
    // The canvas of the next page of the range, valid until FinishPage, Finish or Abort. Raises
    // ERpError when the page cannot be made.
    virtual PageCanvas& StartPage() = 0;
    virtual void FinishPage() = 0;
    // Whether a page was started since Begin.
    virtual bool Started() const = 0;
    // Device pixels per inch of the pages started.
    virtual int Resolution() const = 0;
    // Hands the document over; answers the service's job number. Raises ERpError when refused.
    virtual int Finish(const TPrinterSettings& settings) = 0;
    // Gives the document up: nothing of it reaches the paper.
    virtual void Abort() = 0;
};
