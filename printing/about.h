#pragma once

#include "widgets/form.h"

class QLabel;

// The about box.
class TForm_About : public Form
{
    Q_OBJECT
public:
    TForm_About();

    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label2;
};

extern TForm_About* Form_About;
