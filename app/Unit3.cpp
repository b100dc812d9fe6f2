#include "app/Unit3.h"

TForm3::TForm3(QObject* owner) : QObject(owner) { setObjectName(QStringLiteral("Form3")); }

void TForm3::Preview()
{
    // Report generation and the preview window are not part of the program yet: nothing to show.
}
