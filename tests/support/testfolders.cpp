#include "tests/support/testfolders.h"

#include "tables/paths.h"

#include <QFile>

TestFolders::TestFolders()
{
    paths::setInstallFolder(m_install.path());
    paths::setProgramFolder(m_program.path());
}

QString TestFolders::fixture(const QString& name)
{
    return qEnvironmentVariable("QUINTARA_TEST_DATA") + QLatin1Char('/') + name;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
