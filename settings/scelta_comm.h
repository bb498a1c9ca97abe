#pragma once

#include "widgets/form.h"

class QLineEdit;
class QPushButton;
class UpDown;

// The port chooser.
class TForm_Scelta_Comm : public Form
{
    Q_OBJECT
public:
    TForm_Scelta_Comm();
    void FormCreate();

    QLineEdit* Ed_Comm;
    UpDown* UpDown1;
    QPushButton* Button1;
};

extern TForm_Scelta_Comm* Form_Scelta_Comm;
