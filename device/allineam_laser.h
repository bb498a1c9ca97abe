#pragma once

#include "widgets/form.h"

class QPushButton;

// The laser alignment window: ends an alignment.
class TForm_All_Laser : public Form
{
    Q_OBJECT
public:
    TForm_All_Laser();
    void Button1Click();

    QPushButton* Button1;
};

extern TForm_All_Laser* Form_All_Laser;
