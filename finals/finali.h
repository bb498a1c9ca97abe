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

    void Button1Click();
    void Exit1Click();
    void Chiudo();
    void Carico_Conc_Finali();
    void Carico_Parte_Comune();
    void Carico_Conc_Finali_Solo_Una();
    void Carico_Conc_Finali_Tutti();
    void TrasformaFinale();

    QLineEdit* Lbe_Nr_Conc_Finale;
    UpDown* UpDown1;
    QLineEdit* Lbe_Nr_Min_Finale;
    UpDown* UpDown2;
    QCheckBox* Chb_Finale_Singola_SN;
    QPushButton* Button1;
    QAction* Exit1;

    bool finalsActive = false;
    int finalNumber = 0;
    QString finalLetterText;

private:
    void appendFinalists(bool singleFinal);
};

extern TForm_Finali* Form_Finali;
