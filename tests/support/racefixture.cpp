#include "tests/support/racefixture.h"

#include "competitors/batterie.h"
#include "competitors/lista_batterie.h"
#include "device/semaforo.h"
#include "device/serialport.h"
#include "device/via.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "race/stop.h"
#include "race/unminuto.h"
#include "settings/tempo_min.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "tools/sim/simulator.h"
#include "widgets/controls.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {
constexpr qint64 baseMs = 10 * 3600 * 1000; // 10:00:00
constexpr int waitMs = 5000;
} // namespace

RaceFixture::RaceFixture(ProgramSession::Device kind, Clock clock) : m_session(kind)
{
    // Passages come only from the test.
    if (m_session.hasDevice())
        m_session.onDevice([this] { m_session.device().setScript({}); });
    setTime(0);
    if (clock == Clock::Fake) {
        timetext::setClock([this] { return m_now; });
        // Read on the serial line's thread when a byte arrives.
        timetext::setMonotonicClock([this] { return m_monoNs.load(); });
    }
    m_session.start();
    // The start-up check holds the port for a second. End it once the device has answered (before a race mode
    // takes the answer for a passage), so neither the check nor its answer meets the race.
    TGestione_gare* g = Gestione_gare;
    m_deviceAnswered = m_session.hasDevice() &&
                       QTest::qWaitFor([g] { return g->Sh_Ok_Com->brushColor() == QColor(0, 128, 0); }, waitMs);
    g->TimerDialogoComTimer();
    if (m_session.hasDevice()) {
        m_deviceAnswered = m_deviceAnswered &&
                           QTest::qWaitFor([this] { return m_session.device().commandText().endsWith('Y'); }, waitMs);
        m_session.device().clearRecords();
    }
}

bool RaceFixture::buildQualifications(int competitors, int heatSize, int rounds, int minutes)
{
    Table list;
    layouts::defineCompetitorList(list);
    list.createTable();
    for (int i = 1; i <= competitors; ++i)
        list.appendRecord({QStringLiteral("Pilota %1").arg(i), 27.0 + i / 100.0, QStringLiteral("G")});
    list.saveToFile(paths::programFile(layouts::competitorListFile));

    Form_batterie->Lbe_nr_conc_batt->setText(QString::number(heatSize));
    Form_batterie->Lbe_Nr_Qualif->setText(QString::number(rounds));
    Form_batterie->Lbe_Durata_Qualif->setText(QString::number(minutes));
    Form_batterie->Button2->click();
    if (!Frm_lista_batterie->isVisible())
        return false;
    Frm_lista_batterie->Button1->click();
    dialogs::queueAnswer(true);
    Gestione_gare->CreaNuoveQualifiche1->trigger();
    dialogs::clearShown();
    return Form_Qualifica->qualificationsActive && Gestione_gare->CDS_Gara->isOpen() &&
           Gestione_gare->Bitb_Start->isEnabled();
}

bool RaceFixture::buildFinal(int cars, int minutes)
{
    dialogs::queueAnswer(true);
    guard([] { Gestione_gare->EstraiFinalisti1Click(); });
    Form_Finali->Lbe_Nr_Conc_Finale->setText(QString::number(cars));
    Form_Finali->Lbe_Nr_Min_Finale->setText(QString::number(minutes));
    Form_Finali->Chb_Finale_Singola_SN->setChecked(true);
    Form_Finali->Button1->click();
    dialogs::clearShown();
    return Form_Finali->finalsActive && !Form_Qualifica->qualificationsActive && Gestione_gare->CDS_Finali->isOpen() &&
           Gestione_gare->CDS_Finali->recordCount() == cars;
}

bool RaceFixture::startRace(const QString& minLapEntry)
{
    TGestione_gare* g = Gestione_gare;
    if (m_session.hasDevice() && !m_deviceAnswered)
        return false;
    Form_tempo_min->Ed_tempo_min->setText(minLapEntry);
    // Enabled by the start signal as usual, but never due: the test delivers the ticks.
    g->Timer1->setInterval(24 * 3600 * 1000);
    g->Bitb_Start->click();
    if (!Form_Via->isVisible())
        return false;
    Form_Via->Btn_ProntiVia->click();
    for (int second = 1; second <= 7; ++second)
        Form_Semaforo->Timer_SemaforoTimer();
    if (m_session.hasDevice() && !QTest::qWaitFor([this] { return device().state() == DeviceState::Racing; }, waitMs))
        return false;
    if (m_session.hasDevice())
        device().clearRecords();
    dialogs::clearShown();
    return g->Timer1->isActive() && g->VaComm1->isOpen();
}

int RaceFixture::tick(int count)
{
    TGestione_gare* g = Gestione_gare;
    int delivered = 0;
    while (delivered < count && g->Timer1->isActive()) {
        guard([g] { g->Timer1Timer(); });
        ++delivered;
    }
    return delivered;
}

bool RaceFixture::receive(const QByteArray& bytes, qint64 atMs)
{
    setTime(atMs);
    return receive(bytes);
}

bool RaceFixture::receive(const QByteArray& bytes)
{
    return receiveTogether({{bytes, m_monoNs.load()}});
}

bool RaceFixture::receiveTogether(const QList<std::pair<QByteArray, qint64>>& parts)
{
    TGestione_gare* g = Gestione_gare;
    qsizetype total = 0;
    for (const auto& part : parts)
        total += part.first.size();
    if (total > 0) {
        // With no race mode the handler leaves the bytes pending, so the reception below reads them all at once.
        const bool qualifications = Form_Qualifica->qualificationsActive;
        const bool finals = Form_Finali->finalsActive;
        const bool check = g->dialogueCheckActive;
        Form_Qualifica->qualificationsActive = false;
        Form_Finali->finalsActive = false;
        g->dialogueCheckActive = false;
        QSignalSpy arrivals(g->VaComm1, &SerialPort::OnRxChar);
        bool arrived = true;
        qsizetype sent = 0;
        for (const auto& [bytes, atNs] : parts) {
            setTimeNs(atNs);
            device().sendNow(bytes);
            sent += bytes.size();
            // Each part arrives before the clock moves on to the next.
            arrived = arrived && QTest::qWaitFor(
                                     [&] { return !arrivals.isEmpty() && arrivals.last().at(1).toInt() >= sent; }, waitMs);
        }
        Form_Qualifica->qualificationsActive = qualifications;
        Form_Finali->finalsActive = finals;
        g->dialogueCheckActive = check;
        if (!arrived)
            return false;
    }
    guard([g] { g->VaComm1RxChar(); });
    return true;
}

bool RaceFixture::passage(int channel, int seconds)
{
    m_now += seconds / 86400.0;
    m_monoNs += seconds * 1'000'000'000LL;
    QSignalSpy received(Gestione_gare->VaComm1, &SerialPort::OnRxChar);
    device().sendNow(QByteArray::number(channel));
    return QTest::qWaitFor([&received] { return !received.isEmpty(); }, waitMs);
}

void RaceFixture::closeEndWindows()
{
    FormStop->close();
    Form_1min->close();
}

RaceFixture::~RaceFixture()
{
    // The line's thread reads the monotonic clock: the port closes before the clock is put back.
    if (Gestione_gare)
        Gestione_gare->VaComm1->ClosePort();
    timetext::setClock({});
    timetext::setMonotonicClock({});
}

void RaceFixture::setTime(qint64 atMs)
{
    setTimeNs(atMs * 1'000'000);
}

void RaceFixture::setTimeNs(qint64 atNs)
{
    m_now = double(baseMs) / timetext::msPerDay + double(atNs) / timetext::nsPerDay;
    m_monoNs = atNs;
}

double RaceFixture::timeOfDay(qint64 atMs)
{
    // As the race computes a passage's time of day: the wall clock at the start (10:00:00 at 0 ms) plus the
    // monotonic time since.
    return double(baseMs) / timetext::msPerDay + double(atMs * 1'000'000) / timetext::nsPerDay;
}

Table& RaceFixture::raceTable()
{
    return Form_Qualifica->qualificationsActive ? *Gestione_gare->CDS_Gara : *Gestione_gare->CDS_Finali;
}

QVariant RaceFixture::value(int channel, const QString& field)
{
    const Table& t = raceTable();
    const int key = t.fieldIndex(Form_Qualifica->qualificationsActive ? layouts::num : layouts::nr);
    for (int row = 0; row < t.recordCount(); ++row) {
        if (t.valueAt(row, key).toInt() == channel)
            return t.valueAt(row, t.fieldIndexOrThrow(field));
    }
    return {};
}
