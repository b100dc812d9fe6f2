#pragma once
// The desktop entry through which staff start Hematix from the applications menu: the text of a
// .desktop file for a laid-out program folder, and the names of the files it refers to. It knows
// the desktop entry format (keys, value escapes, the quoting of Exec arguments) and nothing of
// the windows. The program folder is taken as given: any character may be in it.
#include <QString>

namespace desktopentry {

inline const char* const kEntryFile = "hematix.desktop";
inline const char* const kIconFile = "hematix.png";
inline constexpr int kIconSize = 256;

// The entry for the program folder (with its trailing separator): it runs programFolder/hematix
// in the program folder, with programFolder/hematix.png as its icon.
QString entryText(const QString& programFolder);

// One argument of an Exec key, quoted where the format asks for it, before the value escapes.
QString quoteExecArgument(const QString& argument);

} // namespace desktopentry
