#include "competitors/batterie.h"

#include "widgets/controls.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TForm_batterie* Form_batterie = nullptr;

TForm_batterie::TForm_batterie() : Form(QStringLiteral("Form_batterie"), QStringLiteral("batterie"))
{
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    Exit1 = file->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));

    QWidget* c = client();
    Lbe_nr_conc_batt = labeledEdit(c, QStringLiteral("Lbe_nr_conc_batt"), QStringLiteral("Nr. concorrenti per batteria:"),
                                   QStringLiteral("4"), 16, 24, 57);
    UpDown1 = new UpDown(Lbe_nr_conc_batt, 0, 100, 4, c);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    Lbe_Nr_Qualif = labeledEdit(c, QStringLiteral("Lbe_Nr_Qualif"), QStringLiteral("Nr. Qualifiche da fare:"),
                                QStringLiteral("1"), 16, 72, 57);
    UpDown2 = new UpDown(Lbe_Nr_Qualif, 0, 100, 1, c);
    UpDown2->setObjectName(QStringLiteral("UpDown2"));
    Lbe_Durata_Qualif = labeledEdit(c, QStringLiteral("Lbe_Durata_Qualif"), QStringLiteral("Durata qualifiche in minuti:"),
                                    QStringLiteral("1"), 16, 120, 57);
    UpDown3 = new UpDown(Lbe_Durata_Qualif, 0, 100, 1, c);
    UpDown3->setObjectName(QStringLiteral("UpDown3"));

    Button2 = place(new QPushButton(QStringLiteral("Crea Batterie"), c), QStringLiteral("Button2"), 16, 156, 97, 27);
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 136, 156, 89, 27);

    setBorder(Border::Tool);
    setStayOnTop(true);
    setClientSize(242, 193);
}
