#include "settings/tempo_min.h"

#include "race/gestione_gare.h"
#include "settings/scelta_comm.h"
#include "tables/paths.h"
#include "widgets/controls.h"
#include "widgets/guard.h"

#include <QLabel>
#include <QPushButton>

TForm_tempo_min* Form_tempo_min = nullptr;

TForm_tempo_min::TForm_tempo_min() : Form(QStringLiteral("Form_tempo_min"), QStringLiteral("Imp.tempo min. giro"))
{
    QWidget* c = client();
    place(new QLabel(QStringLiteral("Tempo minimo per giro:"), c), QStringLiteral("Label1"), 24, 16);
    place(new QLabel(QStringLiteral("(in secondi)"), c), QStringLiteral("Label2"), 24, 34);
    Ed_tempo_min = place(new QLineEdit(c), QStringLiteral("Ed_tempo_min"), 24, 60, 73, 21);
    Btn_ok = place(new QPushButton(QStringLiteral("OK"), c), QStringLiteral("Btn_ok"), 24, 96, 75, 25);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setOuterSize(212, 162);
    move(57, 61);
    connectHandler(Btn_ok, &QPushButton::clicked, this, &TForm_tempo_min::Btn_okClick);
}

void TForm_tempo_min::Btn_okClick()
{
    Scrivo_tempo_min_in_ini();
    close();
}

void TForm_tempo_min::Scrivo_tempo_min_in_ini()
{
    // Both dialogs write the whole file from both fields.
    Form_Scelta_Comm->SalvoDati();
}

void TForm_tempo_min::FormCreate()
{
    if (paths::fileExists(Gestione_gare->settingsPath))
        Gestione_gare->GestiscoFileIni_tempo_min();
}
