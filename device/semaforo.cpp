#include "device/semaforo.h"

#include "device/wavplayer.h"
#include "widgets/controls.h"

#include <QTimer>

TForm_Semaforo* Form_Semaforo = nullptr;

TForm_Semaforo::TForm_Semaforo() : Form(QStringLiteral("Form_Semaforo"), QStringLiteral("Semaforo"))
{
    QWidget* c = client();
    Sh_sem1 = place(new Shape(c), QStringLiteral("Sh_sem1"), 24, 16, 65, 65);
    Sh_sem2 = place(new Shape(c), QStringLiteral("Sh_sem2"), 112, 16, 65, 65);
    Sh_sem3 = place(new Shape(c), QStringLiteral("Sh_sem3"), 200, 16, 65, 65);
    Sh_sem4 = place(new Shape(c), QStringLiteral("Sh_sem4"), 288, 16, 65, 65);
    Timer_Semaforo = new QTimer(this);
    Timer_Semaforo->setObjectName(QStringLiteral("Timer_Semaforo"));
    Timer_Semaforo->setInterval(1000);
    MediaPlayer1 = new WavPlayer(this);
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));

    setBorder(Border::None);
    setStayOnTop(true);
    setClientSize(377, 102);
    move(59, 232);
}

void TForm_Semaforo::FormCreate()
{
    Timer_Semaforo->stop();
    for (Shape* s : {Sh_sem1, Sh_sem2, Sh_sem3, Sh_sem4})
        s->setBrushColor(QColor(255, 0, 0));
}
