#include "competitors/lista_batterie.h"

#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TFrm_lista_batterie* Frm_lista_batterie = nullptr;

TFrm_lista_batterie::TFrm_lista_batterie()
    : Form(QStringLiteral("Frm_lista_batterie"), QStringLiteral("Batterie generate"))
{
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    Exut1 = file->addAction(QStringLiteral("Exit"));
    Exut1->setObjectName(QStringLiteral("Exut1"));

    CDS_lista_conc = new Table(QStringLiteral("CDS_lista_conc"), this);
    DS_lista_conc = new TableModel(CDS_lista_conc, this);
    DS_lista_conc->setObjectName(QStringLiteral("DS_lista_conc"));
    CDS_Batterie = new Table(QStringLiteral("CDS_Batterie"), this);
    DS_Batterie = new TableModel(CDS_Batterie, this);
    DS_Batterie->setObjectName(QStringLiteral("DS_Batterie"));

    QWidget* c = client();
    DBG_batterie = place(new DataGrid(c), QStringLiteral("DBG_batterie"), 8, 8, 625, 385);
    DBG_batterie->setDataSource(DS_Batterie);
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 8, 404, 89, 33);

    setBorder(Border::Sizeable);
    setStayOnTop(true);
    setOuterSize(649, 480);
}

void TFrm_lista_batterie::resizeEvent(QResizeEvent* event)
{
    Form::resizeEvent(event);
    // The grid fills the window above the button.
    const QSize area = client()->size();
    DBG_batterie->setGeometry(8, 8, area.width() - 16, area.height() - 56);
    Button1->move(8, area.height() - 42);
}
