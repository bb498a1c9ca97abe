// The race window's side of the serial link: where receptions go, the dialogue check with its
// status light, and the start of a laser alignment.
#include "device/allineam_laser.h"
#include "device/serialport.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"

#include <QTimer>

namespace {
const QColor lightRed(255, 0, 0);
const QColor lightGreen(0, 128, 0);
} // namespace

void TGestione_gare::VaComm1RxChar()
{
    if (Form_Qualifica->qualificationsActive)
        GestioneQualifiche();
    else if (Form_Finali->finalsActive)
        GestioneFinali();
    else if (dialogueCheckActive)
        Cnt_Dialogo_Seriale();
    // Otherwise the bytes stay pending until a handler reads them or the port closes.
}

void TGestione_gare::Inizio_Imposta_Cnt_Dialogo_Seriale()
{
    dialogueCheckActive = true;
    Sh_Ok_Com->setBrushColor(lightRed);
    TimerDialogoCom->start();
    VaComm1->OpenPort();
    VaComm1->SendText(QStringLiteral("A"));
}

void TGestione_gare::Cnt_Dialogo_Seriale()
{
    if (VaComm1->ReadPending() == QLatin1String("B"))
        Sh_Ok_Com->setBrushColor(lightGreen);
}

void TGestione_gare::Fine_Imposta_Cnt_Dialogo_Seriale()
{
    dialogueCheckActive = false;
    VaComm1->SendText(QStringLiteral("Y"));
    VaComm1->ClosePort();
    TimerDialogoCom->stop();
}

void TGestione_gare::TimerDialogoComTimer()
{
    Fine_Imposta_Cnt_Dialogo_Seriale();
}

void TGestione_gare::Verificadialogoseriale1Click()
{
    // The check would take the port from the race and stop lap counting.
    if (refusedDuringRace())
        return;
    // With a race mode on, the answer would go to passage processing instead.
    Form_Finali->finalsActive = false;
    Form_Qualifica->qualificationsActive = false;
    Inizio_Imposta_Cnt_Dialogo_Seriale();
    Cnt_Dialogo_Seriale();
}

void TGestione_gare::Lbl_CommDblClick()
{
    Verificadialogoseriale1Click();
}

void TGestione_gare::Allineamentolaser1Click()
{
    if (refusedDuringRace())
        return;
    if (Sh_Ok_Com->brushColor() != lightGreen) {
        dialogs::message(QStringLiteral("Porta Seriale non funzionante"));
        return;
    }
    VaComm1->OpenPort();
    VaComm1->SendText(QStringLiteral("C"));
    Form_All_Laser->showForm();
}

void TGestione_gare::VaComm1PortError(const QString& message)
{
    dialogs::error(message);
}
