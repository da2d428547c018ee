#pragma once

#include <QString>

// Appends one line to "log.txt" in the current directory: the text as UTF-8
// and a line feed. Opens and closes the file for every line so the last line
// is on disk even if the process dies right after. Callers check their own
// debug flag; a file that cannot be opened loses the line silently.
void writeLog(QString text);
