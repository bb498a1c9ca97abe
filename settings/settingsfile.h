#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

// The settings file: five lines "[settings]", "Com", the port number, "Tmin", the minimum lap time
// in seconds, each ending in CR LF.
// The settings subsystem's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcSettings)

namespace settingsfile {

inline const QString fileName = QStringLiteral("Quintara.ini");
inline const QString comKey = QStringLiteral("Com");
inline const QString tminKey = QStringLiteral("Tmin");

// The line after the line that equals `key`, skipping the first line; the search stops at an empty
// line (the end of the file counts as one), and the value is then the line after it.
QString readValue(const QString& path, const QString& key);

QByteArray contents(int port, int minLapSeconds);
// Rewrites the whole file. Raises IoError "Invalid filename" when the folder does not exist and
// "File access denied" when the file cannot be written; the old file then stays as it was.
void write(const QString& path, int port, int minLapSeconds);

} // namespace settingsfile
