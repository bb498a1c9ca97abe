#include "competitors/concorrenti.h"

#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/guard.h"
#include "widgets/navigator.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TFrm_concorrenti* Frm_concorrenti = nullptr;

TFrm_concorrenti::TFrm_concorrenti()
    : Form(QStringLiteral("Frm_concorrenti"), QStringLiteral("Inserimento concorrenti"))
{
    Exit1 = addFileExitMenu();

    CDS_lista_conc = new Table(QStringLiteral("CDS_lista_conc"), this);
    DS_lista_conc = new TableModel(CDS_lista_conc, this);
    DS_lista_conc->setObjectName(QStringLiteral("DS_lista_conc"));

    QWidget* c = client();
    DBNavigator1 = place(new DBNavigator(c), QStringLiteral("DBNavigator1"), 24, 8, 240, 25);
    DBNavigator1->setDataSource(DS_lista_conc);
    DBGrid1 = place(new DataGrid(c), QStringLiteral("DBGrid1"), 24, 40, 473, 209);
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    DBGrid1->setColumnWidths({200, 90});
    Button2 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button2"), 24, 280, 89, 33);
    Ckb_ordina = place(new QCheckBox(QStringLiteral("ordinati alfabeticamente"), c), QStringLiteral("Ckb_ordina"), 176,
                       288, 169, 17);
    Button1 = place(new QPushButton(QStringLiteral("Reset"), c), QStringLiteral("Button1"), 408, 280, 89, 33);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setClientSize(527, 333);
    setFocusProxy(DBGrid1);

    DBGrid1->setDataSource(DS_lista_conc);
    connectHandler(Ckb_ordina, &QCheckBox::clicked, this, &TFrm_concorrenti::Ckb_ordinaClick);
    connectHandler(Button1, &QPushButton::clicked, this, &TFrm_concorrenti::Button1Click);
    connectHandler(Button2, &QPushButton::clicked, this, &TFrm_concorrenti::Button2Click);
    connectHandler(Exit1, &QAction::triggered, this, &TFrm_concorrenti::Exit1Click);
}

void TFrm_concorrenti::FormShow()
{
    const QString path = paths::programFile(layouts::competitorListFile);
    if (paths::fileExists(path)) {
        CDS_lista_conc->setFileName(path);
        CDS_lista_conc->open();
    } else {
        layouts::defineCompetitorList(*CDS_lista_conc);
        CDS_lista_conc->createTable();
    }
    DBGrid1->setDataSource(DS_lista_conc);
    DBGrid1->setFocus();
}

void TFrm_concorrenti::Ckb_ordinaClick()
{
    CDS_lista_conc->setIndexFieldNames(Ckb_ordina->isChecked() ? layouts::concorrente : QString());
}

void TFrm_concorrenti::Button1Click()
{
    paths::removeFile(paths::programFile(layouts::competitorListFile));
    if (CDS_lista_conc->isOpen()) {
        CDS_lista_conc->emptyTable();
    } else {
        // The list file could not be read: deleting it is the way to start a new, empty list.
        layouts::defineCompetitorList(*CDS_lista_conc);
        CDS_lista_conc->createTable();
    }
    Gestione_gare->Crea1->setEnabled(false);
}

void TFrm_concorrenti::Button2Click()
{
    close();
}

void TFrm_concorrenti::Exit1Click()
{
    close();
}

void TFrm_concorrenti::FormClose()
{
    SalvoFileListaConc();
}

void TFrm_concorrenti::SalvoFileListaConc()
{
    // A list file that could not be read left the table closed: it is never overwritten by an
    // empty table, and the window can still be closed.
    if (!CDS_lista_conc->isOpen())
        return;
    // A cell still being typed in belongs to the list too.
    DBGrid1->commitEdit();
    CDS_lista_conc->saveToFile(paths::programFile(layouts::competitorListFile));
    CDS_lista_conc->close();
    Gestione_gare->Crea1->setEnabled(true);
}
