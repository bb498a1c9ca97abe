#pragma once

#include "widgets/form.h"

class QAction;
class QLineEdit;
class QPushButton;
class UpDown;

// The heat settings window: heat size, qualification rounds and race length.
class TForm_batterie : public Form
{
    Q_OBJECT
public:
    TForm_batterie();

    void Button2Click();
    void Button1Click();
    void Exit1Click();

    QLineEdit* Lbe_nr_conc_batt;
    QLineEdit* Lbe_Nr_Qualif;
    QLineEdit* Lbe_Durata_Qualif;
    UpDown* UpDown1;
    UpDown* UpDown2;
    UpDown* UpDown3;
    QPushButton* Button2;
    QPushButton* Button1;
    QAction* Exit1;
};

extern TForm_batterie* Form_batterie;
