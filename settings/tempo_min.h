#pragma once

#include "widgets/form.h"

class QLineEdit;
class QPushButton;

// The minimum lap time dialog.
class TForm_tempo_min : public Form
{
    Q_OBJECT
public:
    TForm_tempo_min();
    void FormCreate();
    void Btn_okClick();
    void Scrivo_tempo_min_in_ini();

    QLineEdit* Ed_tempo_min;
    QPushButton* Btn_ok;
};

extern TForm_tempo_min* Form_tempo_min;
