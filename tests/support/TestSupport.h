#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Every test process runs in a fresh temporary folder: the current directory
// (where log.txt goes) and XDG_DATA_HOME (where config.ini goes) point into
// it, so no test touches the user's files. Set up before QApplication exists.
class TestSandbox {
public:
    TestSandbox();
    QString dataHome() const;     // XDG_DATA_HOME
    QString configFile() const;   // where the program keeps config.ini
    QString workingDir() const;   // current directory
    void writeConfig(const QByteArray& iniText) const;
    QByteArray readFile(const QString& path) const;

private:
#ifdef Q_OS_WIN
    QString windowsDataFolder() const;
#endif
    QTemporaryDir root;
};

TestSandbox& testSandbox();
