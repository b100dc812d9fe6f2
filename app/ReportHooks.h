#pragma once
// The program's side of every report's sessions: their errors appear in the program's error box.
// Both report holders (result sheet, period report) give their sessions this one seam, so they
// behave alike.
class TRpSessionUi;

namespace reporthooks {

TRpSessionUi& ui();

} // namespace reporthooks
