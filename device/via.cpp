#include "device/via.h"

#include "device/semaforo.h"
#include "widgets/controls.h"
#include "widgets/guard.h"

#include <QPushButton>

TForm_Via* Form_Via = nullptr;

TForm_Via::TForm_Via() : Form(QStringLiteral("Form_Via"), QStringLiteral("Pornti.. Via"))
{
    Btn_ProntiVia =
        place(new QPushButton(QStringLiteral("Pronti ... Via"), client()), QStringLiteral("Btn_ProntiVia"), 16, 16, 102, 41);
    setBorder(Border::Dialog, false);
    setStayOnTop(true);
    setOuterSize(142, 98);
    move(209, 381);
    connectHandler(Btn_ProntiVia, &QPushButton::clicked, this, &TForm_Via::Btn_ProntiViaClick);
}

void TForm_Via::Btn_ProntiViaClick()
{
    Form_Semaforo->showForm();
    close();
}
