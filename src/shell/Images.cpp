#include "shell/Images.h"

#include <QFileInfo>

QString imagePath(const QString& relativePath)
{
    if (QFileInfo::exists(relativePath))
        return relativePath;
    return QStringLiteral(":/") + relativePath;
}

QIcon imageIcon(const QString& relativePath)
{
    return QIcon(imagePath(relativePath));
}

QPixmap imagePixmap(const QString& relativePath)
{
    return QPixmap(imagePath(relativePath));
}
