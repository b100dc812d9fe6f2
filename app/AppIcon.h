#pragma once
// The program's icon, drawn rather than loaded so that it needs no resource file.
#include <QIcon>

QIcon applicationIcon();
