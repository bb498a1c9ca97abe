#include "competitors/batterie.h"

#include "competitors/lista_batterie.h"
#include "race/gestione_gare.h"
#include "tables/convert.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TForm_batterie* Form_batterie = nullptr;

TForm_batterie::TForm_batterie() : Form(QStringLiteral("Form_batterie"), QStringLiteral("batterie"))
{
    Exit1 = addFileExitMenu();

    QWidget* c = client();
    Lbe_nr_conc_batt = labeledEdit(c, QStringLiteral("Lbe_nr_conc_batt"),
                                   QStringLiteral("Nr. concorrenti per batteria:"), QStringLiteral("4"), 16, 24, 57);
    UpDown1 = new UpDown(Lbe_nr_conc_batt, QStringLiteral("UpDown1"), 0, 100, 4, c);
    Lbe_Nr_Qualif = labeledEdit(c, QStringLiteral("Lbe_Nr_Qualif"), QStringLiteral("Nr. Qualifiche da fare:"),
                                QStringLiteral("1"), 16, 72, 57);
    UpDown2 = new UpDown(Lbe_Nr_Qualif, QStringLiteral("UpDown2"), 0, 100, 1, c);
    Lbe_Durata_Qualif = labeledEdit(c, QStringLiteral("Lbe_Durata_Qualif"),
                                    QStringLiteral("Durata qualifiche in minuti:"), QStringLiteral("1"), 16, 120, 57);
    UpDown3 = new UpDown(Lbe_Durata_Qualif, QStringLiteral("UpDown3"), 0, 100, 1, c);

    Button2 = place(new QPushButton(QStringLiteral("Crea Batterie"), c), QStringLiteral("Button2"), 16, 156, 97, 27);
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 136, 156, 89, 27);

    setBorder(Border::Tool);
    setStayOnTop(true);
    setClientSize(242, 193);

    connectHandler(Button2, &QPushButton::clicked, this, &TForm_batterie::Button2Click);
    connectHandler(Button1, &QPushButton::clicked, this, &TForm_batterie::Button1Click);
    connectHandler(Exit1, &QAction::triggered, this, &TForm_batterie::Exit1Click);
}

void TForm_batterie::Button2Click()
{
    // Later fields are not read once one fails.
    for (QLineEdit* field : {Lbe_Nr_Qualif, Lbe_nr_conc_batt, Lbe_Durata_Qualif}) {
        if (convert::strToInt(field->text()) < 1) {
            dialogs::message(QStringLiteral(
                "Campo nr. qualifiche, Durata qualifiche o nr. concorrenti non può essere inferiore a 1"));
            return;
        }
    }
    // Showing a hidden generated-heats window generates the heats before this goes on; an error
    // there is shown and the rest still runs.
    Frm_lista_batterie->showForm();
    Gestione_gare->CreaNuoveQualifiche1->setEnabled(true);
    Gestione_gare->Mem_Qualif_fatte->setText(QString());
    Gestione_gare->heatsRunInRound = 0;
    close();
}

void TForm_batterie::Button1Click()
{
    close();
}

void TForm_batterie::Exit1Click()
{
    Gestione_gare->CreaNuoveQualifiche1->setEnabled(true);
    close();
}
