#include "competitors/lista_batterie.h"

#include "competitors/batterie.h"
#include "competitors/heats.h"
#include "race/gestione_gare.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "tables/timetext.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TFrm_lista_batterie* Frm_lista_batterie = nullptr;

TFrm_lista_batterie::TFrm_lista_batterie()
    : Form(QStringLiteral("Frm_lista_batterie"), QStringLiteral("Batterie generate"))
{
    Exut1 = addFileExitMenu(QStringLiteral("Exut1"));

    CDS_lista_conc = new Table(QStringLiteral("CDS_lista_conc"), this);
    DS_lista_conc = new TableModel(CDS_lista_conc, this);
    DS_lista_conc->setObjectName(QStringLiteral("DS_lista_conc"));
    CDS_Batterie = new Table(QStringLiteral("CDS_Batterie"), this);
    DS_Batterie = new TableModel(CDS_Batterie, this);
    DS_Batterie->setObjectName(QStringLiteral("DS_Batterie"));

    QWidget* c = client();
    DBG_batterie = place(new DataGrid(c), QStringLiteral("DBG_batterie"), 8, 8, 625, 385);
    DBG_batterie->setColumnWidths({80, 220, 100});
    DBG_batterie->horizontalHeader()->setStretchLastSection(true);
    DBG_batterie->setDataSource(DS_Batterie);
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 8, 404, 89, 33);

    setBorder(Border::Sizeable);
    setStayOnTop(true);
    setOuterSize(649, 480);

    connectHandler(Button1, &QPushButton::clicked, this, &TFrm_lista_batterie::Button1Click);
    connectHandler(Exut1, &QAction::triggered, this, &TFrm_lista_batterie::Exut1Click);
}

void TFrm_lista_batterie::FormShow()
{
    // The competitor list, loaded afresh.
    const QString listPath = paths::programFile(layouts::competitorListFile);
    const bool haveList = paths::fileExists(listPath);
    if (haveList) {
        CDS_lista_conc->loadFromFile(listPath);
    } else {
        CDS_lista_conc->close();
        dialogs::message(QStringLiteral("Lista concorrenti vuota - prima immetti lista concorrenti"));
    }
    // The old heats file; the generator names it in lower case, which denotes the same file.
    paths::removeFile(paths::programFile(QStringLiteral("batterie.xml")));
    // A new, empty heats table.
    CDS_Batterie->close();
    layouts::defineHeats(*CDS_Batterie);
    CDS_Batterie->createTable();
    DBG_batterie->setDataSource(DS_Batterie);
    // The competitors in frequency order, placed into heats.
    QList<Competitor> competitors;
    if (haveList) {
        CDS_lista_conc->setIndexFieldNames(layouts::frequenza);
        for (CDS_lista_conc->first(); !CDS_lista_conc->eof(); CDS_lista_conc->next()) {
            competitors.append({CDS_lista_conc->value(layouts::concorrente), CDS_lista_conc->value(layouts::frequenza),
                                CDS_lista_conc->value(layouts::gruppo)});
        }
    }
    const int heatSize = convert::strToInt(Form_batterie->Lbe_nr_conc_batt->text());
    try {
        generateHeats(competitors, heatSize, [this](const HeatRow& row) {
            CDS_Batterie->appendRecord({row.heat, row.name, row.frequency, row.group});
        });
    } catch (...) {
        // Ordered by heat also after a stop, so the grid shows the heats placed so far in order.
        CDS_Batterie->setIndexFieldNames(layouts::nBatteria);
        throw;
    }
    CDS_Batterie->setIndexFieldNames(layouts::nBatteria);
    CDS_Batterie->first();
}

void TFrm_lista_batterie::Button1Click()
{
    Chiudo_Lista_Batterie();
    close();
}

void TFrm_lista_batterie::Exut1Click()
{
    Chiudo_Lista_Batterie();
    close();
}

void TFrm_lista_batterie::Chiudo_Lista_Batterie()
{
    // A hand edit still being typed in the grid counts, as it does for the highest heat number.
    DBG_batterie->commitEdit();
    TGestione_gare* g = Gestione_gare;
    g->Mem_qual_da_fare->setText(Form_batterie->Lbe_Nr_Qualif->text());
    const double duration =
        convert::wholeNumberDuration(Form_batterie->Lbe_Durata_Qualif->text(), timetext::minuteScale);
    g->remainingTime = duration;
    g->raceDuration = duration;
    g->Ed_Durata_Gara->setText(timetext::clockText(duration));
    g->Ed_Qual_da_fare->setText(Form_batterie->Lbe_Nr_Qualif->text());
    // The highest heat number: the last row in heat order. An empty table has none to read.
    CDS_Batterie->setIndexFieldNames(layouts::nBatteria);
    CDS_Batterie->last();
    g->Ed_Nr_Batterie->setText(CDS_Batterie->asString(layouts::nBatteria));
    CDS_Batterie->saveToFile(paths::programFile(layouts::heatsFile));
    CDS_Batterie->close();
    ImpostoVarMacch();
}

void TFrm_lista_batterie::ImpostoVarMacch()
{
    TGestione_gare* g = Gestione_gare;
    for (int ch = 1; ch <= 5; ++ch)
        g->channels[ch].channelFinished = true;
    const int n = convert::strToInt(Form_batterie->Lbe_nr_conc_batt->text());
    if (n >= 1 && n <= 5) {
        for (int ch = 1; ch <= n; ++ch)
            g->channels[ch].channelFinished = false;
    }
}

void TFrm_lista_batterie::resizeEvent(QResizeEvent* event)
{
    Form::resizeEvent(event);
    // The grid fills the window above the button.
    const QSize area = client()->size();
    DBG_batterie->setGeometry(8, 8, area.width() - 16, area.height() - 56);
    Button1->move(8, area.height() - 42);
}
