#pragma once

// A file name the user typed or chose, as the system spells it: UTF-16 on
// Windows, the locale's bytes elsewhere.

#include <QFile>
#include <QString>

#include <filesystem>

namespace platform {

inline std::filesystem::path systemPath(const QString& name)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

} // namespace platform
