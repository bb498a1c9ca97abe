#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points the installation folder and the program folder at fresh temporary directories
// for the lifetime of the object.
class TestFolders
{
public:
    TestFolders();
    QString install() const { return m_install.path() + QLatin1Char('/'); }
    QString program() const { return m_program.path() + QLatin1Char('/'); }
    // Path of a fixture file in the test's data folder (QUINTARA_TEST_DATA).
    static QString fixture(const QString& name);

private:
    QTemporaryDir m_install;
    QTemporaryDir m_program;
};

// The whole content of a file; empty when it does not exist or cannot be read.
QByteArray readFile(const QString& path);
