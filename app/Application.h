#pragma once
// Start-up: the application's title and icon, the seven windows in their order, the main window
// shown maximised, and the message loop until the main window closes.
namespace hematix {
int run(int argc, char** argv);
// What run() sets on the application object before any window exists (title, icon, quitting);
// tests that show the windows on a real display do the same.
void setUpApplication();
}
