#pragma once
// Where a printed page put its elements against where the preview's page has them. The queue
// rewrites glyphs (Type 3 fonts) and anti-aliases differently, so pixels are not compared: the
// boxes of the elements are. Elements are the page's text outputs (each cell taken from the
// recorded page, the ink box found inside it in both images, ruled lines masked out) and its ruled
// lines (rows and columns holding a run of ink longer than a centimetre). Every element of the
// preview must be on paper within the tolerance; ruled lines that only paper shows are counted.
#include <QByteArray>
#include <QImage>
#include <QStringList>

namespace pagecompare {

struct Result {
    int texts = 0;          // text boxes compared
    int lines = 0;          // ruled lines of the preview found on paper
    int extraLines = 0;     // ruled lines on paper the preview does not show
    int worst = 0;          // largest distance of an edge, pixels
    QStringList problems;   // elements further than the tolerance, or missing on one side
};

// The recorded page (metafile bytes) played onto a white image of the given size.
QImage render(const QByteArray& emf, QSize size);
// A sheet the queue wrote turned (a landscape page on portrait paper) turned back.
QImage unturn(const QImage& sheet);
// Compares the printed image with the preview image of the same page; emf is the preview's page,
// pagePixels its size in its own pixels.
Result compare(const QByteArray& emf, QSize pagePixels, const QImage& preview, const QImage& printed,
               int tolerance = 2);

} // namespace pagecompare
