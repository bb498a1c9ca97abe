#pragma once

#include <QString>

// Preferences kept between runs in their own file in the installation folder, so the settings file
// keeps its fixed five lines.
namespace preferences {

inline const QString fileName = QStringLiteral("quintara-preferences.ini");

QString filePath(); // the installation folder + fileName

// Spoken call-outs on or off; off until switched on.
bool speechEnabledSetting();
void setSpeechEnabledSetting(bool enabled);

} // namespace preferences
