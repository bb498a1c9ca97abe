#include "tests/raceday/meeting.h"

#include "competitors/batterie.h"
#include "competitors/concorrenti.h"
#include "competitors/lista_batterie.h"
#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/via.h"
#include "race/gestione_gare.h"
#include "race/stop.h"
#include "race/unminuto.h"
#include "settings/tempo_min.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace meeting {

void prepareRaceWindow()
{
    TGestione_gare* g = Gestione_gare;
    g->show();
    g->Timer1->setInterval(clockTickMs);
    Form_Semaforo->Timer_Semaforo->setInterval(lightTickMs);
    QTRY_VERIFY_WITH_TIMEOUT(!g->TimerDialogoCom->isActive(), 3000);
}

void setField(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void enterCompetitors(const QStringList& competitors)
{
    Gestione_gare->Inserimento1->trigger();
    QApplication::setActiveWindow(Frm_concorrenti);
    QVERIFY(QTest::qWaitForWindowActive(Frm_concorrenti));
    for (const QString& competitor : competitors) {
        for (const QString& cell : competitor.split(QLatin1Char('|'))) {
            for (const QChar c : cell)
                QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCoreApplication::processEvents();
        }
    }
    Frm_concorrenti->Button2->click();
    QVERIFY(!Frm_concorrenti->isVisible());
}

void createQualifications(const QString& minLap, int heatSize, int rounds, int minutes)
{
    TGestione_gare* g = Gestione_gare;
    g->Impostazionetempominimo1->trigger();
    setField(Form_tempo_min->Ed_tempo_min, minLap);
    Form_tempo_min->Btn_ok->click();
    g->Crea1->trigger();
    setField(Form_batterie->Lbe_nr_conc_batt, QString::number(heatSize));
    setField(Form_batterie->Lbe_Nr_Qualif, QString::number(rounds));
    setField(Form_batterie->Lbe_Durata_Qualif, QString::number(minutes));
    Form_batterie->Button2->click();
    QVERIFY(Frm_lista_batterie->isVisible());
    Frm_lista_batterie->Button1->click();
    QVERIFY(!Frm_lista_batterie->isVisible());
    dialogs::queueAnswer(true);
    g->CreaNuoveQualifiche1->trigger();
}

void startRace(Simulator& device, const QList<Passage>& passages)
{
    device.setScript(passages);
    QVERIFY(Gestione_gare->Bitb_Start->isEnabled());
    Gestione_gare->Bitb_Start->click();
    QVERIFY(Form_Via->isVisible());
    Form_Via->Btn_ProntiVia->click();
    QTRY_VERIFY_WITH_TIMEOUT(Gestione_gare->Timer1->isActive(), 5000);
}

void runRace(Simulator& device, const QList<Passage>& passages)
{
    const qsizetype stops = device.commandText().count('X');
    startRace(device, passages);
    QTRY_COMPARE_WITH_TIMEOUT(device.commandText().count('X'), stops + 1, 30000);
    FormStop->close();
    Form_1min->close();
}

} // namespace meeting
