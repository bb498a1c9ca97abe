#include "device/via.h"

#include "widgets/controls.h"

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
}
