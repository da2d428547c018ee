#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Images are looked up relative to the current directory first, so a user
// can replace them, then in the copies compiled into the program.
QString imagePath(const QString& relativePath);
QIcon imageIcon(const QString& relativePath);
QPixmap imagePixmap(const QString& relativePath);
