#pragma once
// Start-up: the application's title and icon, the seven windows in their order, the main window
// shown maximised, and the message loop until the main window closes.
namespace hematix {
int run(int argc, char** argv);
}
