#include "tests/support/testfolders.h"

#include "tables/paths.h"

TestFolders::TestFolders()
{
    paths::setInstallFolder(m_install.path());
    paths::setProgramFolder(m_program.path());
}

QString TestFolders::fixture(const QString& name)
{
    return qEnvironmentVariable("QUINTARA_TEST_DATA") + QLatin1Char('/') + name;
}
