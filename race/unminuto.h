#pragma once

#include "widgets/form.h"

class QLabel;
class QTimer;

// The one-minute window; its own timer closes it every ten seconds.
class TForm_1min : public Form
{
    Q_OBJECT
public:
    TForm_1min();

    QLabel* Label1;
    QLabel* Image1;
    QTimer* Timer1;
};

extern TForm_1min* Form_1min;
