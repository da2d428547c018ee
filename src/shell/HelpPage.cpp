#include "shell/HelpPage.h"

#include <QDir>
#include <QFileInfo>

#ifndef HUELENS_DATA_FROM_BIN
#define HUELENS_DATA_FROM_BIN "../share/huelens"
#endif

QString helpPagePath(const QString& executableDir)
{
    const QString beside = executableDir + QStringLiteral("/help.html");
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QDir::cleanPath(executableDir + QStringLiteral("/" HUELENS_DATA_FROM_BIN "/help.html"));
    if (QFileInfo::exists(installed))
        return installed;
    return beside;
}
