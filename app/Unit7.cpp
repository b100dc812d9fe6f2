#include "app/Unit7.h"

TForm7::TForm7(QObject* owner) : QObject(owner) { setObjectName(QStringLiteral("Form7")); }

void TForm7::Preview()
{
    // Report generation and the preview window are not part of the program yet: nothing to show.
}
