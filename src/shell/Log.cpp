#include "shell/Log.h"

#include <QFile>

void writeLog(QString text)
{
    QFile file(QStringLiteral("log.txt"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    text.append(QLatin1Char('\n'));
    file.write(text.toUtf8());
}
