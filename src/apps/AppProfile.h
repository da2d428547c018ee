#pragma once

#include <QString>

// A recognition rule the user wrote: a window is this application when its
// class, title and executable path contain the non-empty fields.
struct AppProfile {
    QString name;
    QString windowClass;
    QString windowTitle;
    QString executable;
};
