#include "qualifications/qualifiche.h"

#include "widgets/controls.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TForm_Qualifica* Form_Qualifica = nullptr;

TForm_Qualifica::TForm_Qualifica() : Form(QStringLiteral("Form_Qualifica"), QStringLiteral("Scegli nr.batteria"))
{
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    Exit1 = file->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));

    QWidget* c = client();
    Lbe_Nr_Bat_Qual = labeledEdit(c, QStringLiteral("Lbe_Nr_Bat_Qual"), QStringLiteral("Nr. Batteria per qualifiche:"),
                                  QStringLiteral("0"), 24, 32, 57);
    UpDown1 = new UpDown(Lbe_Nr_Bat_Qual, 0, 100, 0, c);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 24, 72, 89, 29);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setClientSize(209, 117);
}
