#pragma once

// Drives races of the running program the way the user and the timing device do: Start, "Pronti ... Via",
// the start lights, the race clock and passages that the simulator sends over the real serial link.
// The start lights and the race clock are ticked by hand; passage times come from a fake clock.

#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/via.h"
#include "race/gestione_gare.h"
#include "race/stop.h"
#include "race/unminuto.h"
#include "settings/tempo_min.h"
#include "tables/timetext.h"
#include "tests/support/program.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class RaceDriver
{
public:
    explicit RaceDriver(ProgramSession& session) : m_session(session)
    {
        session.device().setScript({}); // passages come only from the test
        timetext::setClock([this] { return m_now; });
    }

    // Ends the start-up dialogue check once the device has answered (or the check's own second is
    // over), so the port is free for the races.
    bool endDialogueCheck()
    {
        TGestione_gare* g = Gestione_gare;
        const bool answeredOrOver = QTest::qWaitFor(
            [g] { return !g->dialogueCheckActive || g->Sh_Ok_Com->brushColor() == QColor(0, 128, 0); }, waitMs);
        if (answeredOrOver && g->dialogueCheckActive)
            g->TimerDialogoComTimer();
        return !g->VaComm1->isOpen();
    }

    // Presses Start; when the ready window comes up, presses its button and runs the start lights up to
    // the start signal. False when Start refused or the device did not see the start.
    bool start()
    {
        TGestione_gare* g = Gestione_gare;
        Form_tempo_min->Ed_tempo_min->setText(QStringLiteral("1"));
        // The start signal enables the race clock as usual, but the test delivers its ticks.
        g->Timer1->setInterval(24 * 3600 * 1000);
        g->Bitb_Start->click();
        if (!Form_Via->isVisible())
            return false;
        Form_Via->Btn_ProntiVia->click();
        for (int second = 1; second <= 7; ++second)
            Form_Semaforo->Timer_SemaforoTimer();
        return g->Timer1->isActive() &&
               QTest::qWaitFor([this] { return m_session.device().state() == DeviceState::Racing; }, waitMs);
    }

    // Clock ticks up to the one that finds the time run out; the number delivered.
    int tickToTimeUp()
    {
        TGestione_gare* g = Gestione_gare;
        int ticks = 0;
        while (g->Timer1->isActive() && ticks < 10000) {
            g->Timer1Timer();
            ++ticks;
        }
        return ticks;
    }

    // The device sends the digit of `channel`, `seconds` after the previous passage; true once the
    // program has handled the reception.
    bool passage(int channel, int seconds = 20)
    {
        m_now += seconds / 86400.0;
        QSignalSpy received(Gestione_gare->VaComm1, &SerialPort::OnRxChar);
        m_session.device().sendNow(QByteArray::number(channel));
        return QTest::qWaitFor([&received] { return !received.isEmpty(); }, waitMs);
    }

    // What the user does after the end of a race: close the STOP and one-minute windows.
    static void closeEndWindows()
    {
        FormStop->close();
        Form_1min->close();
    }

private:
    static constexpr int waitMs = 5000;
    ProgramSession& m_session;
    double m_now = 10.0 / 24; // 10:00:00
};
