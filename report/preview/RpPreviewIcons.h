#pragma once
// The preview tool bar's icons, drawn here with QPainter at 24 x 24 pixels (and twice that for
// screens with a higher pixel ratio): zoom to fit, 100 %, zoom to width, the four page moves,
// printer setup, print, save and load.
//
// Knows: QPainter. Must not know: the window. Untrusted: nothing.
#include <QIcon>

enum class TRpPreviewIcon {
    ZoomFit,
    Zoom100,
    ZoomWidth,
    FirstPage,
    PreviousPage,
    NextPage,
    LastPage,
    PrintSetup,
    Print,
    Save,
    Load
};

// Main thread only (the icons are drawn once and kept).
QIcon rpPreviewIcon(TRpPreviewIcon kind);
