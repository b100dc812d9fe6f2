#pragma once
// Plugs a report's generator into the program's windows: its Preview opens the preview window,
// Print and Print setup go through the print service, and errors of either appear in the
// program's error box. Both report holders (result sheet, period report) use it, so they behave
// alike.
class TRpGenerator;

namespace reporthooks {

void install(TRpGenerator& generator);
// Before the generator goes: its open preview window is closed and the hooks removed.
void uninstall(TRpGenerator& generator);

} // namespace reporthooks
