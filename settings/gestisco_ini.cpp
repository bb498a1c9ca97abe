// Settings readers of the race window.
#include "device/serialport.h"
#include "race/gestione_gare.h"
#include "settings/settingsfile.h"
#include "settings/tempo_min.h"
#include "tables/convert.h"

#include <QLineEdit>

void TGestione_gare::GestiscoFileIni_Comm()
{
    VaComm1->setPortNum(convert::strToInt(settingsfile::readValue(settingsPath, settingsfile::comKey)));
}

void TGestione_gare::GestiscoFileIni_tempo_min()
{
    const QString value = settingsfile::readValue(settingsPath, settingsfile::tminKey);
    if (!value.isEmpty())
        Form_tempo_min->Ed_tempo_min->setText(value);
}
