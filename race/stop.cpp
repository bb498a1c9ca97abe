#include "race/stop.h"

#include "race/gestione_gare.h"
#include "race/logo.h"
#include "widgets/controls.h"
#include "widgets/fonts.h"

#include <QLabel>
#include <QPushButton>

TFormStop* FormStop = nullptr;

TFormStop::TFormStop() : Form(QStringLiteral("FormStop"), QStringLiteral("STOP"))
{
    QWidget* c = client();
    Label1 = new QLabel(QStringLiteral("STOP"), c);
    Label1->setFont(fonts::bookAntiqua(48, true, true));
    QPalette p = Label1->palette();
    p.setColor(QPalette::WindowText, QColor(200, 0, 0));
    Label1->setPalette(p);
    place(Label1, QStringLiteral("Label1"), 24, 16);
    Image1 = place(new QLabel(c), QStringLiteral("Image1"), Label1->width() + 40, 12, 90, 64);
    Image1->setPixmap(flagPixmap(QSize(90, 64)));

    setBorder(Border::Dialog);
    setStayOnTop(true);
    setClientSize(Label1->width() + 150, 96);
}

void TFormStop::FormShow()
{
    Gestione_gare->Bitb_Start->setEnabled(true);
    Gestione_gare->Bitb_Stop->setEnabled(false);
}
