// Lap corrections of the race director: a passage added or taken back, during a race or after it.
#include "device/datiseriale.h"
#include "race/gestione_gare.h"
#include "speech/announcer.h"
#include "speech/callouts.h"
#include "speech/preferences.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>

void TGestione_gare::createCorrections()
{
    Gara1 = new QMenu(QStringLiteral("Gara"), this);
    Gara1->setObjectName(QStringLiteral("Gara1"));
    Gara1->menuAction()->setObjectName(QStringLiteral("Gara1_action"));
    menuBar()->insertMenu(Help1->menuAction(), Gara1);
    // One action a channel: "AggiungiGiro1" on F1 .. "TogliGiro5" on Shift+F5.
    const auto channelActions = [this](const QString& name, const QString& caption, Qt::KeyboardModifiers modifiers,
                                       void (TGestione_gare::*handler)(int), std::array<QAction*, 6>& actions) {
        for (int ch = 1; ch <= 5; ++ch) {
            auto* action = new QAction(caption + QLatin1Char(' ') + QString::number(ch), this);
            action->setObjectName(name + QString::number(ch));
            action->setShortcut(QKeySequence(modifiers | Qt::Key(Qt::Key_F1 + (ch - 1))));
            action->setShortcutContext(Qt::WindowShortcut);
            Gara1->addAction(action);
            connect(action, &QAction::triggered, this, [this, ch, handler] { guard([&] { (this->*handler)(ch); }); });
            actions[ch] = action;
        }
    };
    channelActions(QStringLiteral("AggiungiGiro"), QStringLiteral("Aggiungi giro"), Qt::NoModifier,
                   &TGestione_gare::AggiungiGiroClick, addLapActions);
    Gara1->addSeparator();
    channelActions(QStringLiteral("TogliGiro"), QStringLiteral("Togli giro"), Qt::ShiftModifier,
                   &TGestione_gare::TogliGiroClick, takeBackActions);

    Gara1->addSeparator();
    AnnunciVocali1 = new QAction(QStringLiteral("Annunci vocali"), this);
    AnnunciVocali1->setObjectName(QStringLiteral("AnnunciVocali1"));
    AnnunciVocali1->setCheckable(true);
    AnnunciVocali1->setChecked(preferences::speechEnabledSetting());
    Gara1->addAction(AnnunciVocali1);
    connectHandler(AnnunciVocali1, &QAction::toggled, this, &TGestione_gare::AnnunciVocali1Click);
    announcer = new Announcer(this);
    announcer->setEnabled(AnnunciVocali1->isChecked());

    Indirizzorisultatiindiretta1 = new QAction(QStringLiteral("Indirizzo risultati in diretta"), this);
    Indirizzorisultatiindiretta1->setObjectName(QStringLiteral("Indirizzorisultatiindiretta1"));
    Gara1->addAction(Indirizzorisultatiindiretta1);
    connectHandler(Indirizzorisultatiindiretta1, &QAction::triggered, this,
                   &TGestione_gare::Indirizzorisultatiindiretta1Click);

    // The same two commands on a row of the race grid, for that row's car.
    gridMenu = new QMenu(this);
    gridMenu->setObjectName(QStringLiteral("gridMenu"));
    DBGr_sit_conc->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGr_sit_conc, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex cell = DBGr_sit_conc->indexAt(at);
        if (!cell.isValid() || !correctable())
            return;
        const Table& table = raceTable();
        const int key = table.fieldIndex(raceRecord.mode == laprules::RaceMode::Finals ? layouts::nr : layouts::num);
        const int ch = key < 0 ? 0 : table.valueAt(cell.row(), key).toInt();
        if (ch < 1 || ch > 5)
            return;
        gridMenu->clear();
        gridMenu->addAction(addLapActions[ch]);
        gridMenu->addAction(takeBackActions[ch]);
        gridMenu->popup(DBGr_sit_conc->viewport()->mapToGlobal(at));
    });
}

void TGestione_gare::AnnunciVocali1Click()
{
    announcer->setEnabled(AnnunciVocali1->isChecked());
    preferences::setSpeechEnabledSetting(AnnunciVocali1->isChecked());
}

void TGestione_gare::announceLap(const QString& name, double lapTime)
{
    if (announcer->isEnabled())
        announcer->announceLap(currentChannel, name, lapCount, callouts::dayFractionToMs(lapTime));
}

void TGestione_gare::Indirizzorisultatiindiretta1Click()
{
    if (webAddresses.isEmpty()) {
        dialogs::message(QStringLiteral("La pagina dei risultati in diretta non è attiva"));
        return;
    }
    dialogs::message(QStringLiteral("Risultati in diretta sulla rete del circuito:\n") +
                     webAddresses.join(QLatin1Char('\n')));
}

void TGestione_gare::setWebStatus(const QString& text)
{
    Lbl_Web->setText(text);
    Lbl_Web->setVisible(!text.isEmpty());
}

void TGestione_gare::AggiungiGiroClick(int channel)
{
    if (!correctable())
        return;
    const qint64 stamp = timetext::monotonicNs();
    journal.appendEvent({racerecord::EventKind::Added, channel, stamp});
    Form_Dati_Seriale->appendNote(QStringLiteral("[correzione] aggiunto un passaggio sul canale %1").arg(channel));
    if (raceRunning()) {
        // As if the device had sent it, stamped at the key press.
        passageMode = raceRecord.mode;
        currentHeat = racedHeat;
        lapCount = 0;
        handlePassage(channel, stamp, racerecord::EventKind::Added);
        return;
    }
    raceRecord.events.append({racerecord::EventKind::Added, channel, stamp});
    applyCorrection();
}

void TGestione_gare::TogliGiroClick(int channel)
{
    if (!correctable())
        return;
    const QList<racerecord::Event> standing = racerecord::standingPassages(raceRecord);
    if (std::none_of(standing.begin(), standing.end(), [channel](const auto& e) { return e.channel == channel; }))
        return;
    const qint64 stamp = timetext::monotonicNs();
    raceRecord.events.append({racerecord::EventKind::TakenBack, channel, stamp});
    journal.appendEvent({racerecord::EventKind::TakenBack, channel, stamp});
    Form_Dati_Seriale->appendNote(QStringLiteral("[correzione] tolto l'ultimo passaggio del canale %1").arg(channel));
    applyCorrection();
}

void TGestione_gare::applyCorrection()
{
    const racerecord::Replay replay = racerecord::replay(raceRecord);
    Table& table = raceTable();
    racerecord::writeCars(raceRecord, replay, table);
    if (raceRunning()) {
        // The next lap is measured from the last passage that stands.
        for (int ch = 1; ch <= 5; ++ch)
            channels[ch] = replay.channels[ch];
        return;
    }
    // After the race the table is saved at once, and a final is ranked again.
    const bool finals = raceRecord.mode == laprules::RaceMode::Finals;
    if (finals) {
        const QString filter = table.filter();
        const bool filtered = table.filtered();
        table.setFilter(QStringLiteral("finale = '%1'").arg(raceRecord.finalLetter));
        table.setFiltered(true);
        table.setIndexName(layouts::finalsIndexName);
        OrdinaStessiGirixTempo();
        table.setIndexFieldNames(layouts::posiz);
        table.setFilter(filter);
        table.setFiltered(filtered);
    }
    table.saveToFile(paths::programFile(layouts::raceFields(finals).file));
    emit raceChanged();
}
