#pragma once

// An Xvfb of a test's own, for servers other than with-xvfb.sh's (without
// some extension, or one that goes away), stopped with the test.

#include <QProcess>
#include <QStringList>

#include <string>

struct PrivateServer {
    bool start(const QStringList& options)
    {
        server.start(QStringLiteral("Xvfb"), QStringList { "-displayfd", "1", "-nolisten", "tcp" } + options);
        QByteArray number;
        while (!number.contains('\n') && server.waitForReadyRead(20000))
            number += server.readAllStandardOutput();
        name = ":" + number.trimmed().toStdString();
        return number.contains('\n');
    }
    void stop()
    {
        server.terminate();
        server.waitForFinished(5000);
    }
    ~PrivateServer() { stop(); }
    QProcess server;
    std::string name;
};
