#pragma once

#include "widgets/form.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QPushButton;
class UpDown;

// The finals settings window: competitors per final, minutes of a final, single or all finals.
class TForm_Finali : public Form
{
    Q_OBJECT
public:
    TForm_Finali();

    QLineEdit* Lbe_Nr_Conc_Finale;
    UpDown* UpDown1;
    QLineEdit* Lbe_Nr_Min_Finale;
    UpDown* UpDown2;
    QCheckBox* Chb_Finale_Singola_SN;
    QPushButton* Button1;
    QAction* Exit1;

    bool finalsActive = false;
};

extern TForm_Finali* Form_Finali;
