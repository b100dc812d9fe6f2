#pragma once
// The seven windows of the program: created once at start-up in this order, each reachable
// through its global reference, and kept until the program ends.
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;

extern TForm1* Form1; // main window
extern TForm2* Form2; // settings dialog
extern TForm3* Form3; // result sheet report
extern TForm4* Form4; // exit dialog
extern TForm5* Form5; // about box
extern TForm6* Form6; // period query dialog
extern TForm7* Form7; // period report

namespace forms {
// Creates the seven windows in order; errors inside a create handler are shown in the error
// box and start-up goes on.
void createAll();
// Destroys them in reverse order (tests start each case afresh).
void destroyAll();
} // namespace forms
