#include "data/seed.h"

#include "tables/paths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcData, "quintara.data")

QStringList seedInstallFolder()
{
    Q_INIT_RESOURCE(defaults);
    QStringList copied;
    const QString folder = paths::installFolder();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcData) << "cannot create the installation folder" << folder;
        return copied;
    }
    QDirIterator it(QStringLiteral(":/defaults"), QDir::Files);
    while (it.hasNext()) {
        const QFileInfo source(it.next());
        if (paths::fileExists(folder + source.fileName()))
            continue;
        const QString target = folder + source.fileName();
        if (QFile::copy(source.filePath(), target)) {
            // Resource files are read-only; the copy belongs to the user.
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            copied.append(source.fileName());
        } else {
            qCWarning(lcData) << "cannot copy" << source.fileName() << "to" << folder;
        }
    }
    return copied;
}
