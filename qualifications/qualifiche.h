#pragma once

#include "widgets/form.h"

#include <QLoggingCategory>

// The qualifications subsystem's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcQualifications)

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

    void Button1Click();
    void Exit1Click();
    // Opens "sit_conc.xml" as the race table when it exists.
    void Apro_CDS();

    QLineEdit* Lbe_Nr_Bat_Qual;
    UpDown* UpDown1;
    QPushButton* Button1;
    QAction* Exit1;

    bool qualificationsActive = false;
    QString heatFilter;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    void showHeat(bool defaultToFirst);
};

extern TForm_Qualifica* Form_Qualifica;
