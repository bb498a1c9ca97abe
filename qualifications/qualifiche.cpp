#include "qualifications/qualifiche.h"

#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/guard.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

Q_LOGGING_CATEGORY(lcQualifications, "quintara.qualifications", QtInfoMsg)

TForm_Qualifica* Form_Qualifica = nullptr;

TForm_Qualifica::TForm_Qualifica() : Form(QStringLiteral("Form_Qualifica"), QStringLiteral("Scegli nr.batteria"))
{
    Exit1 = addFileExitMenu();

    QWidget* c = client();
    Lbe_Nr_Bat_Qual = labeledEdit(c, QStringLiteral("Lbe_Nr_Bat_Qual"), QStringLiteral("Nr. Batteria per qualifiche:"),
                                  QStringLiteral("0"), 24, 32, 57);
    UpDown1 = new UpDown(Lbe_Nr_Bat_Qual, QStringLiteral("UpDown1"), 0, 100, 0, c);
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 24, 72, 89, 29);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setClientSize(209, 117);

    connectHandler(Button1, &QPushButton::clicked, this, &TForm_Qualifica::Button1Click);
    connectHandler(Exit1, &QAction::triggered, this, &TForm_Qualifica::Exit1Click);
}

void TForm_Qualifica::FormShow()
{
    Lbe_Nr_Bat_Qual->setText(QString());
    heatFilter.clear();
}

void TForm_Qualifica::FormClose()
{
    heatFilter = QStringLiteral("batteria = ") + Lbe_Nr_Bat_Qual->text();
}

void TForm_Qualifica::Button1Click()
{
    showHeat(true);
}

void TForm_Qualifica::Exit1Click()
{
    heatFilter = QStringLiteral("batteria = ") + Lbe_Nr_Bat_Qual->text();
    showHeat(false);
}

void TForm_Qualifica::showHeat(bool defaultToFirst)
{
    TGestione_gare* g = Gestione_gare;
    g->setQualificationLabels();
    if (!g->CDS_Gara->isOpen())
        Apro_CDS();
    const QString chosen = Lbe_Nr_Bat_Qual->text();
    if (defaultToFirst && (chosen == QLatin1String(" ") || chosen == QLatin1String("0") || chosen.isEmpty()))
        Lbe_Nr_Bat_Qual->setText(QStringLiteral("1"));
    // The filter parser refuses a heat number that is not a number, e.g. "batteria = " after an empty text.
    g->CDS_Gara->setFilter(QStringLiteral("batteria = ") + Lbe_Nr_Bat_Qual->text());
    g->CDS_Gara->setFiltered(true);
    layouts::orderByRanking(*g->CDS_Gara);
    g->remainingTime = g->raceDuration;
    g->showRemainingTime();
    g->DBGr_sit_conc->hideColumns(layouts::qualificationHiddenColumns());
    qualificationsActive = true;
    close();
}

void TForm_Qualifica::Apro_CDS()
{
    const QString path = paths::programFile(layouts::qualificationFile);
    if (!paths::fileExists(path))
        return;
    TGestione_gare* g = Gestione_gare;
    g->CDS_Gara->setFileName(path);
    g->CDS_Gara->open();
    g->DBGr_sit_conc->setDataSource(g->DS_Gara);
}
