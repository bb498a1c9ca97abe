#include "race/gestione_gare.h"

#include "competitors/batterie.h"
#include "competitors/concorrenti.h"
#include "device/datiseriale.h"
#include "device/serialport.h"
#include "printing/about.h"
#include "qualifications/qualifiche.h"
#include "race/logo.h"
#include "settings/scelta_comm.h"
#include "settings/settingsfile.h"
#include "settings/tempo_min.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/fonts.h"
#include "widgets/guard.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

TGestione_gare* Gestione_gare = nullptr;

namespace {

QLabel* label(QWidget* parent, const QString& name, const QString& text, int left, int top)
{
    return place(new QLabel(text, parent), name, left, top);
}

QLineEdit* hiddenEdit(QWidget* parent, const QString& name)
{
    auto* edit = place(new QLineEdit(name, parent), name, 0, 0, 60, 21);
    edit->hide();
    return edit;
}

} // namespace

TGestione_gare::TGestione_gare() : Form(QStringLiteral("Gestione_gare"), QStringLiteral("Quintara 2.6"))
{
    setFont(fonts::windowFont());

    VaComm1 = new SerialPort(this);
    VaComm1->setObjectName(QStringLiteral("VaComm1"));

    CDS_Gara = new Table(QStringLiteral("CDS_Gara"), this);
    CDS_sit_conc = new Table(QStringLiteral("CDS_sit_conc"), this);
    CDS_Batterie = new Table(QStringLiteral("CDS_Batterie"), this);
    CDS_Finali = new Table(QStringLiteral("CDS_Finali"), this);
    DS_Gara = new TableModel(CDS_Gara, this);
    DS_sit_conc = new TableModel(CDS_sit_conc, this);
    DS_Batterie = new TableModel(CDS_Batterie, this);
    DS_Finali = new TableModel(CDS_Finali, this);
    DS_Gara->setObjectName(QStringLiteral("DS_Gara"));
    DS_sit_conc->setObjectName(QStringLiteral("DS_sit_conc"));
    DS_Batterie->setObjectName(QStringLiteral("DS_Batterie"));
    DS_Finali->setObjectName(QStringLiteral("DS_Finali"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5% off
    Timer1->setInterval(1000);
    TimerDialogoCom = new QTimer(this);
    TimerDialogoCom->setObjectName(QStringLiteral("TimerDialogoCom"));
    TimerDialogoCom->setInterval(1000);
    TimerDialogoCom->start(); // enabled from creation; its tick ends the dialogue check

    createMenu();
    createControls();
    createCorrections();
    setOuterSize(762, 578);
    move(9, 9);
    connectHandlers();
    createReports();
}

TGestione_gare::~TGestione_gare() = default;

void TGestione_gare::createMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto menu = [this](QMenuBar* parentBar, QMenu* parentMenu, const QString& name, const QString& caption) {
        auto* m = new QMenu(caption, this);
        m->setObjectName(name);
        m->menuAction()->setObjectName(name + QStringLiteral("_action"));
        if (parentBar)
            parentBar->addMenu(m);
        else
            parentMenu->addMenu(m);
        return m;
    };
    auto item = [this](QMenu* parent, const QString& name, const QString& caption) {
        auto* a = new QAction(caption, this);
        a->setObjectName(name);
        parent->addAction(a);
        return a;
    };

    File1 = menu(bar, nullptr, QStringLiteral("File1"), QStringLiteral("File"));
    Impostazioni1 = item(File1, QStringLiteral("Impostazioni1"), QStringLiteral("Impostaz.Com"));
    Impostazionetempominimo1 =
        item(File1, QStringLiteral("Impostazionetempominimo1"), QStringLiteral("Impostazione tempo minimo"));
    abilitomenQualifiche1 = item(File1, QStringLiteral("abilitomenQualifiche1"), QStringLiteral("abilito menù Qualifiche"));
    Impostazfinali1 = item(File1, QStringLiteral("Impostazfinali1"), QStringLiteral("abilito menu' finali"));
    Utilit1 = menu(nullptr, File1, QStringLiteral("Utilit1"), QStringLiteral("Utilità"));
    Allineamentolaser1 = item(Utilit1, QStringLiteral("Allineamentolaser1"), QStringLiteral("Allineamento laser"));
    Verificadialogoseriale1 =
        item(Utilit1, QStringLiteral("Verificadialogoseriale1"), QStringLiteral("Verifica dialogo seriale"));
    Verificadatiseriale1 = item(Utilit1, QStringLiteral("Verificadatiseriale1"), QStringLiteral("Verifica dati seriale"));
    Exit1 = item(File1, QStringLiteral("Exit1"), QStringLiteral("Exit"));

    Concorrenti1 = menu(bar, nullptr, QStringLiteral("Concorrenti1"), QStringLiteral("Concorrenti"));
    Inserimento1 = item(Concorrenti1, QStringLiteral("Inserimento1"), QStringLiteral("Gestione"));

    Batterie1 = menu(bar, nullptr, QStringLiteral("Batterie1"), QStringLiteral("Batterie"));
    Crea1 = item(Batterie1, QStringLiteral("Crea1"), QStringLiteral("Gestione"));

    Qualifiche1 = menu(bar, nullptr, QStringLiteral("Qualifiche1"), QStringLiteral("Qualifiche"));
    CreaNuoveQualifiche1 = item(Qualifiche1, QStringLiteral("CreaNuoveQualifiche1"), QStringLiteral("Crea Nuove Qualifiche"));
    StampaBatterie1 = item(Qualifiche1, QStringLiteral("StampaBatterie1"), QStringLiteral("Stampa Batterie"));
    ScegliBatteria1 = item(Qualifiche1, QStringLiteral("ScegliBatteria1"), QStringLiteral("Scegli Batteria"));
    VisualizzarisultatiQualifiche1 = item(Qualifiche1, QStringLiteral("VisualizzarisultatiQualifiche1"),
                                          QStringLiteral("Visualizza risultati Qualifiche"));
    Stampaqualifiche1 = item(Qualifiche1, QStringLiteral("Stampaqualifiche1"), QStringLiteral("Stampa qualifiche"));

    Finali1 = menu(bar, nullptr, QStringLiteral("Finali1"), QStringLiteral("Finali"));
    EstraiFinalisti1 = item(Finali1, QStringLiteral("EstraiFinalisti1"), QStringLiteral("Estrai Finalisti"));
    Visualizzarisultatifinali1 =
        item(Finali1, QStringLiteral("Visualizzarisultatifinali1"), QStringLiteral("Visualizza risultati finali"));
    Stampareportfinali1 = item(Finali1, QStringLiteral("Stampareportfinali1"), QStringLiteral("Stampa report finali"));

    Help1 = menu(bar, nullptr, QStringLiteral("Help1"), QStringLiteral("Help"));
    Help2 = item(Help1, QStringLiteral("Help2"), QStringLiteral("Istruzioni all'uso"));
    About1 = item(Help1, QStringLiteral("About1"), QStringLiteral("About"));
}

void TGestione_gare::createControls()
{
    QWidget* c = client();

    DBGr_sit_conc = place(new DataGrid(c), QStringLiteral("DBGr_sit_conc"), 40, 40, 657, 289);
    DBGr_sit_conc->setFocusPolicy(Qt::ClickFocus); // no tab stop
    // Both race tables lay out heat or final, number, name, laps, then the times: all fit the grid's width.
    DBGr_sit_conc->setColumnWidths({55, 55, 180, 60, 90, 90, 90, 90, 90, 90});

    // Fixed place numbers beside the first fifteen grid rows.
    positionLabels.append(label(c, QStringLiteral("Lbl_Pos"), QStringLiteral("Pos."), 16, 40));
    for (int i = 1; i <= 15; ++i) {
        auto* l = new QLabel(QString::number(i), c);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        positionLabels.append(place(l, QStringLiteral("Lbl_Pos%1").arg(i), 16, 64 + (i - 1) * 18 - 1, 18, 16));
    }

    const QFont big = fonts::bookAntiqua(27, true);
    Label1 = label(c, QStringLiteral("Label1"), QStringLiteral("Tempo residuo:"), 576, 344);
    Ed_Durata_Gara = place(new QLineEdit(c), QStringLiteral("Ed_Durata_Gara"), 576, 368, 113, 40);
    Ed_Durata_Gara->setFont(big);
    Ed_Durata_Gara->setToolTip(QStringLiteral("Tempo residuo della gara in corso"));
    Label4 = label(c, QStringLiteral("Label4"), QStringLiteral("minuti/secondi"), 576, 416);

    Label2 = label(c, QStringLiteral("Label2"), QStringLiteral("Qualifiche da fare:"), 376, 344);
    Mem_qual_da_fare = place(new Memo(c, Qt::AlignHCenter), QStringLiteral("Mem_qual_da_fare"), 376, 368, 65, 41);
    Mem_qual_da_fare->setFont(fonts::sansPixels(27, true));
    Mem_qual_da_fare->setToolTip(QStringLiteral("nr. qualifiche da  disputare per la batteria visualizzata"));
    Label3 = label(c, QStringLiteral("Label3"), QStringLiteral("Qualifiche fatte:"), 472, 344);
    Mem_Qualif_fatte = place(new Memo(c, Qt::AlignHCenter), QStringLiteral("Mem_Qualif_fatte"), 472, 368, 65, 41);
    Mem_Qualif_fatte->setFont(Mem_qual_da_fare->font());
    Mem_Qualif_fatte->setToolTip(QStringLiteral("nr. qualifiche ancora da disputare per la batteria visualizzata"));
    for (Memo* m : {Mem_qual_da_fare, Mem_Qualif_fatte}) {
        m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

    Bitb_Start = place(new QPushButton(QStringLiteral("Start"), c), QStringLiteral("Bitb_Start"), 376, 424, 81, 41);
    Bitb_Start->setIcon(startIcon());
    Bitb_Start->setToolTip(QStringLiteral("Inizio la gara"));
    Bitb_Stop = place(new QPushButton(QStringLiteral("Interrompi"), c), QStringLiteral("Bitb_Stop"), 376, 472, 81, 41);
    Bitb_Stop->setToolTip(QStringLiteral("termino la gara"));
    Btn_Fine_Manche =
        place(new QPushButton(QStringLiteral("Fine manche"), c), QStringLiteral("Btn_Fine_Manche"), 472, 424, 81, 41);
    Btn_Fine_Manche->hide();

    Ed_Qual_da_fare = hiddenEdit(c, QStringLiteral("Ed_Qual_da_fare"));
    Ed_Nr_Batterie = hiddenEdit(c, QStringLiteral("Ed_Nr_Batterie"));
    Ed_Finali_Fatte = hiddenEdit(c, QStringLiteral("Ed_Finali_Fatte"));

    const QString commHint = QStringLiteral("fare doppio click per verificare dialogo com");
    Label21 = label(c, QStringLiteral("Label21"), QStringLiteral("Com:"), 657, 496);
    Lbl_Comm = place(new DblClickLabel(QStringLiteral("1"), c), QStringLiteral("Lbl_Comm"), 688, 496);
    Lbl_Comm->setToolTip(commHint);
    Sh_Ok_Com = place(new Shape(c), QStringLiteral("Sh_Ok_Com"), 624, 496, 25, 17);
    // Why the live results page is off, when it is.
    Lbl_Web = place(new QLabel(c), QStringLiteral("Lbl_Web"), 40, 14, 657, 18);
    Lbl_Web->hide();

    Image1 = place(new QLabel(c), QStringLiteral("Image1"), 24, 360, 320, 150);
    Image1->setPixmap(logoPixmap(QSize(320, 150)));
}

void TGestione_gare::connectHandlers()
{
    connectHandler(abilitomenQualifiche1, &QAction::triggered, this, &TGestione_gare::abilitomenQualifiche1Click);
    connectHandler(Impostazfinali1, &QAction::triggered, this, &TGestione_gare::Impostazfinali1Click);
    connectHandler(Exit1, &QAction::triggered, this, &TGestione_gare::Exit1Click);
    connectHandler(Impostazioni1, &QAction::triggered, this, &TGestione_gare::Impostazioni1Click);
    connectHandler(Impostazionetempominimo1, &QAction::triggered, this,
                   &TGestione_gare::Impostazionetempominimo1Click);
    connectHandler(Verificadatiseriale1, &QAction::triggered, this, &TGestione_gare::Verificadatiseriale1Click);
    connectHandler(Inserimento1, &QAction::triggered, this, &TGestione_gare::Inserimento1Click);
    connectHandler(Crea1, &QAction::triggered, this, &TGestione_gare::Crea1Click);
    connectHandler(ScegliBatteria1, &QAction::triggered, this, &TGestione_gare::ScegliBatteria1Click);
    connectHandler(About1, &QAction::triggered, this, &TGestione_gare::About1Click);
    connectHandler(Bitb_Start, &QPushButton::clicked, this, &TGestione_gare::Bitb_StartClick);
    connectHandler(Bitb_Stop, &QPushButton::clicked, this, &TGestione_gare::Bitb_StopClick);
    connectHandler(Btn_Fine_Manche, &QPushButton::clicked, this, &TGestione_gare::Btn_Fine_MancheClick);
    connectHandler(Timer1, &QTimer::timeout, this, &TGestione_gare::Timer1Timer);
    connectHandler(CreaNuoveQualifiche1, &QAction::triggered, this, &TGestione_gare::CreaNuoveQualifiche1Click);
    connectHandler(VisualizzarisultatiQualifiche1, &QAction::triggered, this,
                   &TGestione_gare::VisualizzarisultatiQualifiche1Click);
    connectHandler(EstraiFinalisti1, &QAction::triggered, this, &TGestione_gare::EstraiFinalisti1Click);
    connectHandler(Visualizzarisultatifinali1, &QAction::triggered, this,
                   &TGestione_gare::Visualizzarisultatifinali1Click);
    connectHandler(Verificadialogoseriale1, &QAction::triggered, this, &TGestione_gare::Verificadialogoseriale1Click);
    connectHandler(Allineamentolaser1, &QAction::triggered, this, &TGestione_gare::Allineamentolaser1Click);
    connectHandler(Lbl_Comm, &DblClickLabel::doubleClicked, this, &TGestione_gare::Lbl_CommDblClick);
    connectHandler(TimerDialogoCom, &QTimer::timeout, this, &TGestione_gare::TimerDialogoComTimer);
    connectHandler(VaComm1, &SerialPort::OnRxChar, this, &TGestione_gare::VaComm1RxChar);
    connect(VaComm1, &SerialPort::portError, this, &TGestione_gare::VaComm1PortError);
}

void TGestione_gare::FormCreate()
{
    // The port number from the settings file when there is one.
    settingsPath = paths::installFile(settingsfile::fileName);
    if (paths::fileExists(settingsPath))
        GestiscoFileIni_Comm();
    Lbl_Comm->setText(QString::number(VaComm1->PortNum()));
    // Nothing can be raced or printed until heats or finals exist.
    Bitb_Start->setEnabled(false);
    Bitb_Stop->setEnabled(false);
    for (QAction* a : {Crea1, CreaNuoveQualifiche1, ScegliBatteria1, EstraiFinalisti1, Visualizzarisultatifinali1,
                       Stampareportfinali1, StampaBatterie1, Stampaqualifiche1, VisualizzarisultatiQualifiche1})
        a->setEnabled(false);
    // No car runs on any channel yet.
    for (int ch = 1; ch <= 5; ++ch)
        channels[ch].channelFinished = true;
    Timer1->stop();
    Mem_qual_da_fare->setText(QString());
    Mem_Qualif_fatte->setText(QString());
    Ed_Durata_Gara->setText(QString());
    // Whether the device answers shows in the status light.
    Inizio_Imposta_Cnt_Dialogo_Seriale();
}

void TGestione_gare::abilitomenQualifiche1Click()
{
    CreaNuoveQualifiche1->setEnabled(true);
}

void TGestione_gare::Impostazfinali1Click()
{
    EstraiFinalisti1->setEnabled(true);
    Visualizzarisultatifinali1->setEnabled(true);
    Stampareportfinali1->setEnabled(true);
}

void TGestione_gare::Exit1Click()
{
    CDS_Gara->close();
    close();
}

void TGestione_gare::Impostazioni1Click()
{
    Form_Scelta_Comm->showForm();
}

void TGestione_gare::Impostazionetempominimo1Click()
{
    Form_tempo_min->showForm();
}

void TGestione_gare::Verificadatiseriale1Click()
{
    Form_Dati_Seriale->showForm();
}

void TGestione_gare::Inserimento1Click()
{
    Frm_concorrenti->showForm();
}

void TGestione_gare::Crea1Click()
{
    Form_batterie->showForm();
}

void TGestione_gare::ScegliBatteria1Click()
{
    Form_Qualifica->showForm();
}

void TGestione_gare::About1Click()
{
    Form_About->showForm();
}

void TGestione_gare::closeEvent(QCloseEvent* event)
{
    // The other windows close first, as the user would close them: closing one saves what was typed in it
    // (a new competitor list). One that refuses to close keeps the program running.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        if (w != this && w->isVisible() && qobject_cast<Form*>(w) && !w->close()) {
            event->ignore();
            return;
        }
    }
    Form::closeEvent(event);
}

void TGestione_gare::FormClose()
{
    // A table that cannot be written back refuses the close: the window stays, and so do its rows.
    closeAllTables();
    // Every table is written: the journal of a race still on track or stopped is not needed any more.
    endRaceRecord();
    QApplication::quit();
}

void TGestione_gare::closeAllTables()
{
    // Every table gets its chance to write back; the first failure is raised once they all have.
    std::exception_ptr failure;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        for (Table* t : w->findChildren<Table*>()) {
            try {
                t->close();
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}
