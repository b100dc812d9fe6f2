#pragma once
// Where the program lives and what it is called: every path the program uses is the program
// folder followed by a fixed relative part, and the title comes from the executable's name.
#include <QString>

namespace startup {

// The executable's folder with its trailing separator ("/opt/lab/" for "/opt/lab/hematix").
QString programFolderOf(const QString& executablePath);
// The executable's name without its folder, cut before its first ".", the first character a
// capital and every other in lower case ("HEMATIX.EXE" and "hematix" both give "Hematix").
QString applicationTitleOf(const QString& executablePath);

// The running executable's full path. Tests may stand a path of their own in its place.
QString executablePath();
void setExecutablePathForTesting(const QString& path);

// Fixed relative parts of the program folder.
inline const char* const kSettingsFile = "set.ini";

} // namespace startup
