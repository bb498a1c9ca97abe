#pragma once

#include "race/journal.h"
#include "race/laprules.h"
#include "race/racerecord.h"
#include "widgets/form.h"

#include <QString>

#include <array>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class DataConnection;
class DataGrid;
class ReportProject;
class DblClickLabel;
class Memo;
class SerialPort;
class Shape;
class Table;
class TableModel;
class Announcer;
struct StampedByte;

// The race window: the menu, the grid of the race table, the race clock, the port to the timing
// device, the competition tables and the race state shared with the other windows.
class TGestione_gare : public Form
{
    Q_OBJECT
public:
    TGestione_gare();
    ~TGestione_gare() override;

    // Creation handler (start-up state).
    void FormCreate();

    // Menu actions of the race window itself.
    void abilitomenQualifiche1Click();
    void Impostazfinali1Click();
    void Exit1Click();
    // Menu items that show another window.
    void Impostazioni1Click();
    void Impostazionetempominimo1Click();
    void Verificadatiseriale1Click();
    void Inserimento1Click();
    void Crea1Click();
    void ScegliBatteria1Click();
    void About1Click();

    // Race clock
    void Bitb_StartClick();
    void Bitb_StopClick();
    void Btn_Fine_MancheClick();
    void Timer1Timer();
    void FineQualifiche();
    void FineFinali();
    void GestioneTempo();
    void ForzoVarFinito();
    void ForzoVarFinito_Finali();
    void showRemainingTime();
    // Standings of the final the finals table shows, written into "posiz.".
    void OrdinaStessiGirixTempo();

    // Qualifications (qualifications/) and finals (finals/)
    void CreaNuoveQualifiche1Click();
    void CreaQualif();
    void VisualizzarisultatiQualifiche1Click();
    void setQualificationLabels();
    void EstraiFinalisti1Click();
    void CreaFinali();
    void ApriFinali();
    void Visualizzarisultatifinali1Click();
    void Preparo_Gestione_Qualifiche();
    void ProponiBatteria();
    void Preparo_Gestione_Finali();
    void ProponiFinali();
    void Elabora_Finale();
    void Trasforma_Finale();
    void ImpostoVarMacch_Finali();

    // The race record and its journal: begun when the start lights open the port, a tick for every race clock
    // tick, removed once the race table is saved at the end of the race.
    void beginRaceRecord();
    void recordTick(qint64 stampNs);
    void endRaceRecord();
    // The race table of the race mode, or of a given mode: the qualification table or the finals table.
    Table& raceTable() const;
    Table& raceTableOf(laprules::RaceMode mode) const;
    // At the first show: offers to rebuild a race the program did not see to its end from its journal.
    void restoreFromJournal();

signals:
    // The race table or the race clock changed: the live results page catches up later.
    void raceChanged();

public:
    // Lap corrections of the race director, for the race on track or the one just raced: a passage added
    // now on a channel, or the channel's last passage taken back. Nothing to take back does nothing.
    void AggiungiGiroClick(int channel);
    void TogliGiroClick(int channel);
    // Whether a race can take corrections: from its start lights until the next Start.
    bool correctable() const { return raceRecorded; }

    // Spoken lap times, on and off with "Annunci vocali"; the choice is kept between runs.
    void AnnunciVocali1Click();
    // A counted lap said aloud, never waiting for the voice.
    void announceLap(const QString& name, double lapTime);
    // The live results page's address, with "Indirizzo risultati in diretta".
    void Indirizzorisultatiindiretta1Click();
    // A line about the live results page under the race window's controls; empty hides it.
    void setWebStatus(const QString& text);

    // Passage processing
    void GestioneQualifiche();
    void GestioneFinali();
    void Aggiorno_CDS_Gara();
    void Aggiorno_CDS_Gara_Finali();
    void CalcoloInizioGiro();
    void GestioneUltimoPassaggio();
    void Imposta_Nr_Batteria();

    // Lap-time calculations on the current row of the race table, which is in edit state.
    void CalcoloTempoSGiro();
    void CalcoloTempoSGiroQualifiche();
    void CalcoloTempoSGiroFinali();
    void CalcoloTempoMigl();
    void CalcoloTempoMiglQualifiche();
    void CalcoloTempoMiglFinali();
    void CalcoloTempoTot();

    // The race mode of the heat chooser's and the finals window's flags.
    laprules::RaceMode raceMode() const;
    // A heat or final is on track: from the start lights until the last car is in, "Interrompi" or "Fine manche".
    bool raceRunning() const;
    // Shows why a device check cannot run now and returns true while a race runs.
    bool refusedDuringRace() const;

    // Serial link (device/): reception, dialogue check, laser alignment.
    void VaComm1RxChar();
    void Inizio_Imposta_Cnt_Dialogo_Seriale();
    void Cnt_Dialogo_Seriale();
    void Fine_Imposta_Cnt_Dialogo_Seriale();
    void TimerDialogoComTimer();
    void Verificadialogoseriale1Click();
    void Lbl_CommDblClick();
    void Allineamentolaser1Click();
    void VaComm1PortError(const QString& message);

    // Printing, help and about (printing/): creates the report projects and their data
    // connections and connects the print and help menu items.
    void createReports();
    void Stampabatterie1Click();
    void Stampaqualifiche1Click();
    void Stampareportfinali1Click();
    void Help2Click();

    // Settings readers (settings/)
    void GestiscoFileIni_Comm();
    void GestiscoFileIni_tempo_min();

    // Every table of every window that was opened from its file writes itself back when changed. Raises the
    // first write-back error once every table has been tried; a table that failed keeps its rows.
    static void closeAllTables();

    // Controls
    DataGrid* DBGr_sit_conc;
    QLineEdit* Ed_Durata_Gara;
    QLabel* Label2;
    Memo* Mem_qual_da_fare;
    QLabel* Label3;
    Memo* Mem_Qualif_fatte;
    QPushButton* Bitb_Start;
    QPushButton* Bitb_Stop;
    QPushButton* Btn_Fine_Manche;
    QLineEdit* Ed_Qual_da_fare;
    QLineEdit* Ed_Nr_Batterie;
    QLineEdit* Ed_Finali_Fatte;
    DblClickLabel* Lbl_Comm;
    Shape* Sh_Ok_Com;
    QTimer* Timer1;
    QTimer* TimerDialogoCom;
    SerialPort* VaComm1;

    // Tables and their data sources
    Table* CDS_Gara;
    Table* CDS_sit_conc;
    Table* CDS_Batterie;
    Table* CDS_Finali;
    TableModel* DS_Gara;
    TableModel* DS_sit_conc;
    TableModel* DS_Batterie;
    TableModel* DS_Finali;

    // Report projects and the connections that present the tables to them
    ReportProject* RvProj_Batterie = nullptr;
    ReportProject* RvProj_Qualifiche = nullptr;
    ReportProject* RvProj_Finali = nullptr;
    DataConnection* RvDataSetConnection1 = nullptr; // CDS_Finali
    DataConnection* RvDataSetConnection2 = nullptr; // CDS_Batterie
    DataConnection* RvDataSetConnection3 = nullptr; // CDS_Gara

    // Menu
    QAction* Impostazioni1;
    QAction* Impostazionetempominimo1;
    QAction* abilitomenQualifiche1;
    QAction* Impostazfinali1;
    QAction* Allineamentolaser1;
    QAction* Verificadialogoseriale1;
    QAction* Verificadatiseriale1;
    QAction* Exit1;
    QAction* Inserimento1;
    QAction* Crea1;
    QAction* CreaNuoveQualifiche1;
    QAction* StampaBatterie1;
    QAction* ScegliBatteria1;
    QAction* VisualizzarisultatiQualifiche1;
    QAction* Stampaqualifiche1;
    QAction* EstraiFinalisti1;
    QAction* Visualizzarisultatifinali1;
    QAction* Stampareportfinali1;
    QAction* Help2;
    QAction* About1;
    // Lap corrections, channel 1..5 (index 0 unused): F1..F5 and Shift+F1..F5.
    std::array<QAction*, 6> addLapActions{};   // "AggiungiGiro1".."AggiungiGiro5"
    std::array<QAction*, 6> takeBackActions{}; // "TogliGiro1".."TogliGiro5"
    QAction* AnnunciVocali1 = nullptr;
    QAction* Indirizzorisultatiindiretta1 = nullptr;
    Announcer* announcer = nullptr;
    // The addresses of the live results page, set by the program when its server listens.
    QStringList webAddresses;

    // Race state (times are day fractions)
    laprules::PerChannel<laprules::ChannelState> channels{};
    // The race on track, or the one just raced; its journal while it runs.
    racerecord::RaceRecord raceRecord;
    bool raceRecorded = false;
    PassageJournal journal;
    // The arrival stamp of the passage being handled.
    qint64 passageStamp = 0;
    // The race mode of the passage being handled, decided once when it is received.
    laprules::RaceMode passageMode = laprules::RaceMode::Idle;
    int currentChannel = 0;
    int lapCount = 0;
    QString receivedText;
    int currentHeat = 0;
    // The heat being raced, as set when the race started.
    int racedHeat = 0;
    double raceDuration = 0;
    double remainingTime = 0;
    double elapsedRaceTime = 0;
    double minLapTime = 0;
    bool timeUp = false;
    bool oneMinuteWarned = false;
    int heatsRunInRound = 0;
    int heatCount = 0;
    int qualificationsDone = 0;
    int heatsTextLength = 0;
    int roundsTextLength = 0;
    bool dialogueCheckActive = false;
    QString currentFinal;
    int currentFinalIndex = 0;
    QString settingsPath;

protected:
    void FormShow() override;
    void FormClose() override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Each channel digit received is one passage, handled in arrival order at its arrival stamp.
    void handlePassages(const QList<StampedByte>& received);
    // One passage, of the device or added by hand, through the lap rules.
    void handlePassage(int channel, qint64 stampNs, racerecord::EventKind kind);
    bool m_shownOnce = false;
    QLabel* Lbl_Web = nullptr;

    // Controls and menus that no other window touches
    QList<QLabel*> positionLabels;
    QLabel* Label1;
    QLabel* Label4;
    QLabel* Label21;
    QLabel* Image1;
    QMenu* File1;
    QMenu* Utilit1;
    QMenu* Concorrenti1;
    QMenu* Batterie1;
    QMenu* Qualifiche1;
    QMenu* Finali1;
    QMenu* Help1;
    QMenu* Gara1;
    QMenu* gridMenu;

    void createControls();
    void createCorrections();
    // Writes the replayed race into the race table; after the race, saves it and ranks a final again.
    void applyCorrection();
    void createMenu();
    void connectHandlers();
};

extern TGestione_gare* Gestione_gare;
