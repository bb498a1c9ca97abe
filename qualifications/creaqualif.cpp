// The qualification table and the qualification rounds, as seen from the race window.
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QScopeGuard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TGestione_gare::CreaNuoveQualifiche1Click()
{
    if (!dialogs::confirm(QStringLiteral("Questo cancellerà le precedenti qualifiche.  Continuo?")))
        return;
    CreaQualif();
    StampaBatterie1->setEnabled(true);
    Form_Finali->finalsActive = false;
    Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("0"));
}

void TGestione_gare::CreaQualif()
{
    CDS_Gara->setFiltered(false);
    CDS_Gara->close();
    const QString heatsPath = paths::programFile(layouts::heatsFile);
    if (paths::fileExists(heatsPath)) {
        CDS_Batterie->setFileName(heatsPath);
        CDS_Batterie->open();
    }
    // Closed whatever happens, so that the next build reads the heats file anew rather than heats left in
    // memory by a failed build.
    const auto closeHeats = qScopeGuard([this] { CDS_Batterie->close(); });
    // Every heat row is read once before the old results are deleted: without heats, or with a row that
    // cannot be read, the build stops with its error and the previous qualification table stays.
    CDS_Batterie->setIndexFieldNames(layouts::nBatteria);
    CDS_Batterie->first();
    convert::strToInt(CDS_Batterie->asString(layouts::nBatteria));
    for (; !CDS_Batterie->eof(); CDS_Batterie->next()) {
        convert::strToInt(CDS_Batterie->asString(layouts::nBatteria));
        CDS_Batterie->asString(layouts::concorrente);
    }
    // Records of one heat are numbered in the order the heats table presents them: the order
    // in which the heats were generated.
    CDS_Batterie->first();
    int heat = convert::strToInt(CDS_Batterie->asString(layouts::nBatteria));
    // A new, empty qualification table replaces the old one and its file.
    const QString path = paths::programFile(layouts::qualificationFile);
    paths::removeFile(path);
    CDS_sit_conc->close();
    layouts::defineQualification(*CDS_sit_conc);
    CDS_sit_conc->createTable();
    DBGr_sit_conc->setDataSource(DS_sit_conc);
    DBGr_sit_conc->setReadOnly(true);
    int currentHeatNumber = heat;
    int numberInHeat = 1;
    // One row per competitor, numbered within the heat.
    while (!CDS_Batterie->eof()) {
        if (heat != currentHeatNumber) {
            currentHeatNumber = heat;
            numberInHeat = 1;
        }
        const QString name = CDS_Batterie->asString(layouts::concorrente);
        CDS_sit_conc->appendRecord({heat, numberInHeat, name, 0, QVariant(), QVariant(), QVariant()});
        ++numberInHeat;
        CDS_Batterie->next();
        if (!CDS_Batterie->eof())
            heat = convert::strToInt(CDS_Batterie->asString(layouts::nBatteria));
    }
    CDS_sit_conc->saveToFile(path);
    qCInfo(lcQualifications) << "qualification table built with" << CDS_sit_conc->recordCount() << "competitors";
    CDS_sit_conc->close();
    // The saved table becomes the race table.
    CDS_Gara->setFileName(path);
    CDS_Gara->open();
    DBGr_sit_conc->setDataSource(DS_Gara);
    DBGr_sit_conc->hideColumns(layouts::qualificationHiddenColumns());
    Form_Qualifica->qualificationsActive = true;
    ScegliBatteria1->setEnabled(true);
    Bitb_Start->setEnabled(true);
    emit raceChanged();
}

void TGestione_gare::setQualificationLabels()
{
    Label1->setText(QStringLiteral("Tempo residuo:"));
    Label2->setText(QStringLiteral("Qualifiche da fare:"));
    Label3->setText(QStringLiteral("Qualifiche fatte:"));
}

void TGestione_gare::Preparo_Gestione_Qualifiche()
{
    heatsTextLength = int(Ed_Nr_Batterie->text().size());
    roundsTextLength = int(Ed_Qual_da_fare->text().size());
    if (heatsTextLength > 3 || roundsTextLength > 3) {
        dialogs::message(QStringLiteral("prima occorre valorizzare batterie in gestione batterie"));
        return;
    }
    setQualificationLabels();
    if (!CDS_Gara->isOpen())
        Form_Qualifica->Apro_CDS();
    const QString chosen = Form_Qualifica->Lbe_Nr_Bat_Qual->text();
    if (chosen == QLatin1String(" ") || chosen.isEmpty() || chosen == QLatin1String("0")) {
        Form_Qualifica->heatFilter = QStringLiteral("batteria = 1");
        Form_Qualifica->Lbe_Nr_Bat_Qual->setText(QStringLiteral("1"));
        ProponiBatteria();
    }
    // Every further race of a round races the next heat, whatever the chooser holds.
    if (heatsRunInRound > 0) {
        const QString next = QString::number(heatsRunInRound + 1);
        Form_Qualifica->heatFilter = QStringLiteral("batteria = ") + next;
        Form_Qualifica->Lbe_Nr_Bat_Qual->setText(next);
        ProponiBatteria();
    }
    DBGr_sit_conc->hideColumns(layouts::qualificationHiddenColumns());
}

void TGestione_gare::ProponiBatteria()
{
    CDS_Gara->setFilter(Form_Qualifica->heatFilter);
    CDS_Gara->setFiltered(true);
    layouts::orderByRanking(*CDS_Gara);
}

void TGestione_gare::VisualizzarisultatiQualifiche1Click()
{
    CDS_Gara->setFiltered(false);
    Stampaqualifiche1->setEnabled(true);
}
