#pragma once

#include <QString>

// Where the help page is: "help.html" beside the executable (the build tree,
// an unpacked folder), else in the installed data folder relative to the
// executable (bin/../share/huelens/help.html), so the page is found wherever
// the program is started from. When neither exists the path beside the
// executable is returned: opening it fails quietly, as a missing page always has.
QString helpPagePath(const QString& executableDir);
