#include "tables/paths.h"

#include "tables/error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString g_installFolder;
QString g_programFolder;

QString withSeparator(const QString& folder)
{
    QString f = QDir::fromNativeSeparators(folder);
    if (!f.endsWith(QLatin1Char('/')))
        f += QLatin1Char('/');
    return f;
}

} // namespace

namespace paths {

QString installFolder()
{
    if (g_installFolder.isEmpty()) {
#ifdef Q_OS_WIN
        g_installFolder = QStringLiteral("c:/quintara/");
#else
        QString base = qEnvironmentVariable("XDG_DATA_HOME");
        if (base.isEmpty())
            base = QDir::homePath() + QStringLiteral("/.local/share");
        g_installFolder = withSeparator(base + QStringLiteral("/quintara"));
#endif
    }
    return g_installFolder;
}

QString programFolder()
{
    if (g_programFolder.isEmpty()) {
        const QString appDir = QCoreApplication::applicationDirPath();
        // An installed program (in a bin folder, or in a folder it cannot write, even when run as
        // root) keeps each user's tables in the installation folder, not beside the executable.
        const QFileInfo info(appDir);
        const bool installed = info.fileName() == QLatin1String("bin") || !info.isWritable();
        g_programFolder = withSeparator(installed ? installFolder() : appDir);
    }
    return g_programFolder;
}

void setInstallFolder(const QString& folder)
{
    g_installFolder = withSeparator(folder);
}

void setProgramFolder(const QString& folder)
{
    g_programFolder = withSeparator(folder);
}

QString findFile(const QString& folder, const QString& name)
{
    const QString dir = withSeparator(folder);
    if (QFileInfo::exists(dir + name))
        return dir + name;
    const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir + entry;
    }
    return dir + name;
}

QString programFile(const QString& name)
{
    return findFile(programFolder(), name);
}

QString installFile(const QString& name)
{
    return findFile(installFolder(), name);
}

static QString resolve(const QString& path)
{
    const QFileInfo info(path);
    return findFile(info.path(), info.fileName());
}

bool fileExists(const QString& path)
{
    return QFileInfo::exists(resolve(path));
}

void removeFile(const QString& path)
{
    const QString actual = resolve(path);
    if (!QFileInfo::exists(actual))
        return;
    QFile file(actual);
    if (!file.remove())
        throw IoError(QStringLiteral("Cannot delete file %1: %2").arg(QDir::toNativeSeparators(actual), file.errorString()));
}

} // namespace paths
