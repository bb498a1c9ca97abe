#include "device/semaforo.h"

#include "device/serialport.h"
#include "device/wavplayer.h"
#include "race/gestione_gare.h"
#include "widgets/controls.h"
#include "widgets/guard.h"

#include <QPushButton>

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
    // A coarse timer may fire up to 5% off: the device must see the lights one second apart.
    Timer_Semaforo->setTimerType(Qt::PreciseTimer);
    Timer_Semaforo->setInterval(1000);
    MediaPlayer1 = new WavPlayer(this);
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
    connectHandler(Timer_Semaforo, &QTimer::timeout, this, &TForm_Semaforo::Timer_SemaforoTimer);

    setBorder(Border::None);
    setStayOnTop(true);
    setClientSize(377, 102);
    move(59, 232);
}

namespace {
const QColor red(255, 0, 0);
const QColor green(0, 255, 0);
} // namespace

void TForm_Semaforo::paintAllRed()
{
    for (Shape* s : {Sh_sem1, Sh_sem2, Sh_sem3, Sh_sem4})
        s->setBrushColor(red);
}

void TForm_Semaforo::FormCreate()
{
    Timer_Semaforo->stop();
    paintAllRed();
}

void TForm_Semaforo::FormShow()
{
    lightCountdown = 8;
    Timer_Semaforo->start();
    // When the port cannot be opened the error is shown and the countdown still runs.
    Gestione_gare->VaComm1->OpenPort();
    // From here on every passage is recorded, and journaled as it arrives.
    Gestione_gare->beginRaceRecord();
    Gestione_gare->VaComm1->SendText(QStringLiteral("R"));
}

void TForm_Semaforo::Timer_SemaforoTimer()
{
    SerialPort* port = Gestione_gare->VaComm1;
    lightCountdown -= 1;
    switch (lightCountdown) {
    case 5:
        Sh_sem4->setBrushColor(green);
        port->SendText(QStringLiteral("4"));
        break;
    case 4:
        Sh_sem3->setBrushColor(green);
        port->SendText(QStringLiteral("3"));
        break;
    case 3:
        Sh_sem2->setBrushColor(green);
        port->SendText(QStringLiteral("2"));
        break;
    case 2:
        Sh_sem1->setBrushColor(green);
        port->SendText(QStringLiteral("1"));
        break;
    case 1:
        // The start signal: the race clock runs from here, its first tick one second later.
        port->SendText(QStringLiteral("Y"));
        Timer_Semaforo->stop();
        port->SendText(QStringLiteral("E"));
        Gestione_gare->Timer1->start();
        close();
        paintAllRed();
        break;
    default:
        break;
    }
}

void TForm_Semaforo::FormClose()
{
    Gestione_gare->Bitb_Start->setEnabled(false);
}
