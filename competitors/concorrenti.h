#pragma once

#include "widgets/form.h"

class QAction;
class QCheckBox;
class QPushButton;
class DataGrid;
class DBNavigator;
class Table;
class TableModel;

// The competitor list window: name, frequency and group of every competitor.
class TFrm_concorrenti : public Form
{
    Q_OBJECT
public:
    TFrm_concorrenti();

    void Ckb_ordinaClick();
    void Button1Click();
    void Button2Click();
    void Exit1Click();
    void SalvoFileListaConc();

    QAction* Exit1;
    DBNavigator* DBNavigator1;
    DataGrid* DBGrid1;
    QPushButton* Button2;
    QCheckBox* Ckb_ordina;
    QPushButton* Button1;
    Table* CDS_lista_conc;
    TableModel* DS_lista_conc;

protected:
    void FormShow() override;
    void FormClose() override;
};

extern TFrm_concorrenti* Frm_concorrenti;
