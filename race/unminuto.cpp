#include "race/unminuto.h"

#include "race/logo.h"
#include "widgets/controls.h"
#include "widgets/fonts.h"

#include <QLabel>
#include <QTimer>

TForm_1min* Form_1min = nullptr;

TForm_1min::TForm_1min() : Form(QStringLiteral("Form_1min"), QStringLiteral("Manca Un Minuto ....."))
{
    QWidget* c = client();
    Label1 = new QLabel(QStringLiteral("... Manca un minuto alla fine della gara ..."), c);
    Label1->setFont(fonts::verdana(12, true, true));
    place(Label1, QStringLiteral("Label1"), 16, 16);
    Image1 = place(new QLabel(c), QStringLiteral("Image1"), (Label1->width() + 32 - 120) / 2, 52, 120, 80);
    Image1->setPixmap(flagPixmap(QSize(120, 80)));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10000);
    connect(Timer1, &QTimer::timeout, this, &QWidget::close);
    Timer1->start();

    setBorder(Border::Dialog);
    setStayOnTop(true);
    setClientSize(Label1->width() + 32, 148);
}
