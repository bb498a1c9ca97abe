#include "finals/finali.h"

#include "widgets/controls.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TForm_Finali* Form_Finali = nullptr;

TForm_Finali::TForm_Finali() : Form(QStringLiteral("Form_Finali"), QStringLiteral("Finali"))
{
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    Exit1 = file->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));

    QWidget* c = client();
    Lbe_Nr_Conc_Finale = labeledEdit(c, QStringLiteral("Lbe_Nr_Conc_Finale"), QStringLiteral("Nr.concorrenti per finale:"),
                                     QStringLiteral("4"), 24, 32, 57);
    UpDown1 = new UpDown(Lbe_Nr_Conc_Finale, 0, 100, 4, c);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    Lbe_Nr_Min_Finale = labeledEdit(c, QStringLiteral("Lbe_Nr_Min_Finale"), QStringLiteral("Nr. minuti della finale:"),
                                    QStringLiteral("2"), 24, 80, 57);
    UpDown2 = new UpDown(Lbe_Nr_Min_Finale, 0, 100, 2, c);
    UpDown2->setObjectName(QStringLiteral("UpDown2"));
    Chb_Finale_Singola_SN = place(new QCheckBox(QStringLiteral("Finale singola"), c),
                                  QStringLiteral("Chb_Finale_Singola_SN"), 24, 112, 121, 17);
    Chb_Finale_Singola_SN->setChecked(true);
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 24, 144, 89, 29);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setClientSize(201, 189);
}
