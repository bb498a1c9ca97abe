#include "speech/preferences.h"

#include "speech/logging.h"
#include "tables/paths.h"

#include <QSettings>

namespace {

const QString speechKey = QStringLiteral("speech/enabled");

} // namespace

namespace preferences {

QString filePath()
{
    return paths::installFolder() + fileName;
}

bool speechEnabledSetting()
{
    const QSettings settings(filePath(), QSettings::IniFormat);
    return settings.value(speechKey, false).toBool();
}

void setSpeechEnabledSetting(bool enabled)
{
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(speechKey, enabled);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qCWarning(lcSpeech).noquote() << "Could not save the speech preference in" << filePath();
}

} // namespace preferences
