#pragma once

#include "widgets/form.h"

class QAction;
class QLineEdit;
class QPushButton;
class UpDown;

// The heat chooser: the heat to race first in a round, or to look at.
class TForm_Qualifica : public Form
{
    Q_OBJECT
public:
    TForm_Qualifica();

    QLineEdit* Lbe_Nr_Bat_Qual;
    UpDown* UpDown1;
    QPushButton* Button1;
    QAction* Exit1;

    bool qualificationsActive = false;
    QString heatFilter;
};

extern TForm_Qualifica* Form_Qualifica;
