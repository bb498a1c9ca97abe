#pragma once

#include "widgets/form.h"

class QPushButton;
class ExitEdit;
class UpDown;

// The port chooser.
class TForm_Scelta_Comm : public Form
{
    Q_OBJECT
public:
    TForm_Scelta_Comm();
    void FormCreate();
    void Ed_CommChange();
    void Ed_CommExit();
    void Button1Click();
    // Rewrites the settings file from the port field and the minimum lap time field.
    void SalvoDati();

    ExitEdit* Ed_Comm;
    UpDown* UpDown1;
    QPushButton* Button1;

protected:
    void FormClose() override;
};

extern TForm_Scelta_Comm* Form_Scelta_Comm;
