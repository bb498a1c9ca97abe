// Finalist extraction and running the finals, as seen from the race window.
#include "finals/distribution.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TGestione_gare::EstraiFinalisti1Click()
{
    Form_Qualifica->qualificationsActive = false;
    CDS_Finali->setFiltered(false);
    if (dialogs::confirm(QStringLiteral("Questo cancellerà le precedenti finali.  Continuo?")))
        CreaFinali();
    else
        ApriFinali();
}

void TGestione_gare::CreaFinali()
{
    // The finals settings window stays open while the rest runs.
    Form_Finali->showForm();
    // The qualification results, saved and opened so that the ranking can be read.
    const QString qualificationPath = paths::programFile(layouts::qualificationFile);
    if (CDS_Gara->isOpen())
        CDS_Gara->saveToFile(qualificationPath);
    if (paths::fileExists(qualificationPath)) {
        if (!CDS_Gara->isOpen()) {
            CDS_Gara->setFileName(qualificationPath);
            CDS_Gara->open();
        }
    }
    // A new, empty finals table replaces the old one and its file.
    paths::removeFile(paths::programFile(layouts::finalsFile));
    CDS_Finali->close();
    CDS_Finali->setFilter(QString());
    CDS_Finali->setFileName(QString());
    layouts::defineFinals(*CDS_Finali);
    CDS_Finali->setIndexName(layouts::finalsIndexName);
    CDS_Finali->createTable();
    DBGr_sit_conc->setDataSource(DS_Finali);
    // The race table is only written by the race: no row is added or typed over in the grid.
    DBGr_sit_conc->setReadOnly(true);
    layouts::orderByRanking(*CDS_Gara);
    DBGr_sit_conc->hideColumns(layouts::finalsHiddenColumns());
    Bitb_Start->setEnabled(true);
    Bitb_Stop->setEnabled(false);
}

void TGestione_gare::ApriFinali()
{
    CDS_Finali->close();
    const QString path = paths::programFile(layouts::finalsFile);
    if (paths::fileExists(path)) {
        layouts::openFinals(*CDS_Finali, path);
        DBGr_sit_conc->setDataSource(DS_Finali);
        DBGr_sit_conc->setReadOnly(true);
        DBGr_sit_conc->hideColumns(layouts::finalsHiddenColumns());
    }
    Bitb_Start->setEnabled(true);
    Bitb_Stop->setEnabled(true);
}

void TGestione_gare::ImpostoVarMacch_Finali()
{
    for (int ch = 1; ch <= 5; ++ch)
        channels[ch].channelFinished = true;
    const int n = convert::strToInt(Form_Finali->Lbe_Nr_Conc_Finale->text());
    if (n >= 1 && n <= 5) {
        for (int ch = 1; ch <= n; ++ch)
            channels[ch].channelFinished = false;
    }
}

void TGestione_gare::Preparo_Gestione_Finali()
{
    Label1->setText(QStringLiteral("Tempo residuo:"));
    if (!CDS_Finali->isOpen())
        Form_Finali->Carico_Conc_Finali();
    ProponiFinali();
}

void TGestione_gare::ProponiFinali()
{
    CDS_Finali->setIndexFieldNames(layouts::finale);
    if (currentFinal.isEmpty()) {
        // The first final after loading is the highest letter.
        CDS_Finali->last();
        currentFinal = CDS_Finali->asString(layouts::finale);
    } else {
        Trasforma_Finale();
        Elabora_Finale();
    }
    CDS_Finali->setFilter(QStringLiteral("finale = '") + currentFinal + QStringLiteral("'"));
    CDS_Finali->setFiltered(true);
    CDS_Finali->setIndexName(layouts::finalsIndexName);
}

void TGestione_gare::Elabora_Finale()
{
    currentFinalIndex -= 1;
    Form_Finali->finalNumber = currentFinalIndex;
    Form_Finali->TrasformaFinale();
    currentFinal = Form_Finali->finalLetterText;
}

void TGestione_gare::Trasforma_Finale()
{
    if (const int number = finalNumberOf(currentFinal))
        currentFinalIndex = number;
}

void TGestione_gare::Visualizzarisultatifinali1Click()
{
    CDS_Finali->setFiltered(false);
}
