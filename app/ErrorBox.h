#pragma once
// The standard message boxes every window uses: the error box that shows an error's own text,
// and the confirmation with "OK" and "Cancel".
#include <QString>
#include <functional>

class QWidget;

namespace ui {

// Shows message in the standard error box (captioned with the application title), modal.
void showError(const QString& message);
// Asks text in a box captioned caption with the buttons "OK" and "Cancel"; true for "OK".
bool confirm(const QString& text, const QString& caption = QStringLiteral("Confirm"));

// Runs handler, showing any error it raises in the error box; true when it raised none. Every
// event handler of the windows runs through this, as the framework did around each handler.
bool guarded(const std::function<void()>& handler);

} // namespace ui
