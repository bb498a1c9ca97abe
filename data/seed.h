#pragma once

#include <QStringList>

// Creates the installation folder when missing and copies in the default files it lacks
// (compiled in as resources). Never overwrites a file, never writes the settings file.
// Returns the names of the files copied.
QStringList seedInstallFolder();
