#pragma once

#include "widgets/form.h"

class QAction;
class QPushButton;
class DataGrid;
class Table;
class TableModel;

// The generated-heats window: generates the heats each time it is shown and hands them over.
class TFrm_lista_batterie : public Form
{
    Q_OBJECT
public:
    TFrm_lista_batterie();

    void Button1Click();
    void Exut1Click();
    void Chiudo_Lista_Batterie();
    // Arms channels 1..N for a qualification heat, N being the heat size.
    void ImpostoVarMacch();

    DataGrid* DBG_batterie;
    QPushButton* Button1;
    QAction* Exut1;
    Table* CDS_lista_conc;
    TableModel* DS_lista_conc;
    Table* CDS_Batterie;
    TableModel* DS_Batterie;

protected:
    void FormShow() override;
    void resizeEvent(QResizeEvent* event) override;
};

extern TFrm_lista_batterie* Frm_lista_batterie;
