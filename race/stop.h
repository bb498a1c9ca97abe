#pragma once

#include "widgets/form.h"

class QLabel;

// The STOP window shown when the race time is up.
class TFormStop : public Form
{
    Q_OBJECT
public:
    TFormStop();

    QLabel* Label1;
    QLabel* Image1;

protected:
    // Runs only when the window passes from hidden to shown.
    void FormShow() override;
};

extern TFormStop* FormStop;
