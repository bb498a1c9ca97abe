#include "device/allineam_laser.h"

#include "device/serialport.h"
#include "race/gestione_gare.h"
#include "widgets/controls.h"
#include "widgets/guard.h"

#include <QPushButton>

TForm_All_Laser* Form_All_Laser = nullptr;

TForm_All_Laser::TForm_All_Laser() : Form(QStringLiteral("Form_All_Laser"), QStringLiteral("Fine Allineamento Laser"))
{
    Button1 = new QPushButton(QStringLiteral("Termina Controllo Allineamento"), client());
    setBorder(Border::Dialog, false);
    setStayOnTop(true);
    setOuterSize(221, 122);
    // As wide as the window allows: the caption barely fits in the look-alike fonts.
    place(Button1, QStringLiteral("Button1"), 6, 24, client()->minimumWidth() - 12, 41);
    move(265, 242);
    connectHandler(Button1, &QPushButton::clicked, this, &TForm_All_Laser::Button1Click);
}

void TForm_All_Laser::Button1Click()
{
    // "W" and closing the port would end the race's lap counting.
    if (Gestione_gare->refusedDuringRace())
        return;
    Gestione_gare->VaComm1->SendText(QStringLiteral("W"));
    Gestione_gare->VaComm1->ClosePort();
    close();
}
