#pragma once

#include "widgets/form.h"

class QTimer;
class Shape;
class WavPlayer;

// The start-light window: four lights that turn green from right to left.
class TForm_Semaforo : public Form
{
    Q_OBJECT
public:
    TForm_Semaforo();
    void FormCreate();
    void Timer_SemaforoTimer();

    Shape* Sh_sem1;
    Shape* Sh_sem2;
    Shape* Sh_sem3;
    Shape* Sh_sem4;
    QTimer* Timer_Semaforo;
    int lightCountdown = 0;
    WavPlayer* MediaPlayer1;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    void paintAllRed();
};

extern TForm_Semaforo* Form_Semaforo;
