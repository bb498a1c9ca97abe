#pragma once

#include "widgets/form.h"

class QPushButton;

// The ready/go window shown by an accepted Start.
class TForm_Via : public Form
{
    Q_OBJECT
public:
    TForm_Via();
    void Btn_ProntiViaClick();

    QPushButton* Btn_ProntiVia;
};

extern TForm_Via* Form_Via;
