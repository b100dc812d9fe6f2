#pragma once
// The unit pictures of the result sheet: units with exponents or signs that label text cannot
// carry, drawn as pure black glyphs on white and stored as 24-bit bitmaps.
// Knows: the result sheet's image items by name, their glyphs, the bitmap file, Picture.Data
// lines of layout text. Must not know: generation, painting of reports. Untrusted: the layout
// text embedInLayout is given (a picture block without its closing brace is refused).
#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace unitpictures {

enum class Kind {
    TenPow9PerLitre,    // x10 raised 9 /L, 50 x 23
    TenPow12PerLitre,   // x10 raised 12 /L, 52 x 30
    PerMille            // the per-mille sign, 28 x 21
};

// Draws a picture: exactly black and white pixels, glyphs in the rows the layout expects.
QImage draw(Kind kind);
// The picture as a Windows bitmap file: 24 bits per pixel, uncompressed, rows bottom-up.
QByteArray toBmp24(const QImage& image);
// Picture.Data of a layout for the picture.
QByteArray pictureData(Kind kind);
// The picture an image item of the result sheet holds (RpImage1..5, RpImage6, RpImage7).
std::optional<Kind> kindForItem(const QString& itemName);
// Replaces the Picture.Data of every such item in a layout text; the rest stays as it is.
// Returns the number of pictures replaced. A block without its closing brace raises Exception
// and leaves the text as it was.
int embedInLayout(QByteArray& layoutText);

} // namespace unitpictures
