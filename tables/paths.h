#pragma once

#include <QString>

// The installation folder holds the settings file, the stop sound, the report projects and the manual;
// the program folder holds the table files. Both paths end with a separator.
namespace paths {

QString installFolder();
QString programFolder();

// Tests point both folders at temporary directories.
void setInstallFolder(const QString& folder);
void setProgramFolder(const QString& folder);

// The file in `folder` whose name matches `name` without regard to case; folder + name when none does.
QString findFile(const QString& folder, const QString& name);
// findFile() in the program folder.
QString programFile(const QString& name);
QString installFile(const QString& name);
// Deletes the file that findFile() names; does nothing when there is none. Raises IoError on failure.
void removeFile(const QString& path);
bool fileExists(const QString& path); // matched without regard to case

} // namespace paths
