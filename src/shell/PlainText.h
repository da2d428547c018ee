#pragma once

#include <QString>

class QLabel;
class QWidget;

// Text from outside the program (window titles, classes and executable
// paths, rule and application names, profile descriptions and file names,
// the desktop's messages) is shown as it is. Qt otherwise takes text that
// looks like markup for rich text, and its text layout opens the file an
// <img> names, on the GUI thread: a FIFO blocks the program for good,
// /dev/zero fills its memory. Every label of the program is made plain, ours
// too, so that none can be missed.

// A label that shows its text as it is.
QLabel* plainLabel(const QString& text = QString(), QWidget* parent = nullptr);

// A tool-tip that shows `text` as it is. Qt guesses rich text in tool-tips
// whatever the widget, so the text is made rich text that says it: escaped,
// its line breaks kept.
QString plainToolTip(const QString& text);

// A window title that shows `text` as it is: Qt takes "[*]" in a title for
// the place of the modified-document mark and drops it.
QString plainWindowTitle(const QString& text);
