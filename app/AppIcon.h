#pragma once
// The program's icon, drawn rather than loaded so that it needs no resource file: a drop of blood
// on a white tile. The same drawing gives the windows' icon and the desktop entry's image file.
#include <QIcon>
#include <QImage>

QIcon applicationIcon();
// The icon drawn at size x size pixels, transparent around the tile.
QImage drawApplicationIcon(int size);
