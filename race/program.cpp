#include "race/program.h"

#include "competitors/batterie.h"
#include "competitors/concorrenti.h"
#include "competitors/lista_batterie.h"
#include "device/allineam_laser.h"
#include "device/datiseriale.h"
#include "device/semaforo.h"
#include "device/via.h"
#include "finals/finali.h"
#include "printing/about.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "race/stop.h"
#include "race/unminuto.h"
#include "settings/scelta_comm.h"
#include "settings/tempo_min.h"
#include "tables/table.h"
#include "web/liveserver.h"
#include "widgets/guard.h"

#include <QCoreApplication>
#include <QLineEdit>

namespace {

// The live results page of the running program, and the port it uses (-1: from the command line).
web::LiveServer* liveServer = nullptr;
int webPortSetting = -1;

void startLiveServer()
{
    TGestione_gare* g = Gestione_gare;
    liveServer = new web::LiveServer([g] {
        const Table* race = g->raceMode() == laprules::RaceMode::Idle ? nullptr : &g->raceTable();
        return web::snapshotFromTables(race, QString(), g->Ed_Durata_Gara->text(), g->CDS_Gara, g->CDS_Finali);
    });
    // The race window only marks the tables as changed; the page is built and sent later, off the timing path.
    QObject::connect(g, &TGestione_gare::raceChanged, liveServer, &web::LiveServer::changed);
    const int port = webPortSetting >= 0 ? webPortSetting : web::webPortFromArguments(QCoreApplication::arguments());
    const bool listening = liveServer->start(quint16(port));
    g->webAddresses = liveServer->addresses();
    // A port that is taken is said under the race window's controls; the program goes on without the page.
    if (!listening && port != 0)
        g->setWebStatus(liveServer->statusText());
}

template <typename T>
void create(T*& instance)
{
    instance = new T();
    if constexpr (requires(T t) { t.FormCreate(); })
        guard([&] { instance->FormCreate(); });
}

template <typename T>
void destroy(T*& instance)
{
    delete instance;
    instance = nullptr;
}

} // namespace

void createWindows()
{
    create(Gestione_gare);
    create(Frm_concorrenti);
    create(Form_batterie);
    create(Frm_lista_batterie);
    create(Form_Qualifica);
    create(Form_Semaforo);
    create(Form_1min);
    create(FormStop);
    create(Form_Finali);
    create(Form_Scelta_Comm);
    create(Form_About);
    create(Form_Via);
    create(Form_All_Laser);
    create(Form_Dati_Seriale);
    create(Form_tempo_min);
    startLiveServer();
}

void setWebPort(int port)
{
    webPortSetting = port;
}

void destroyWindows()
{
    delete liveServer;
    liveServer = nullptr;
    // In reverse order of creation: later windows may refer to the race window.
    destroy(Form_tempo_min);
    destroy(Form_Dati_Seriale);
    destroy(Form_All_Laser);
    destroy(Form_Via);
    destroy(Form_About);
    destroy(Form_Scelta_Comm);
    destroy(Form_Finali);
    destroy(FormStop);
    destroy(Form_1min);
    destroy(Form_Semaforo);
    destroy(Form_Qualifica);
    destroy(Frm_lista_batterie);
    destroy(Form_batterie);
    destroy(Frm_concorrenti);
    destroy(Gestione_gare);
}
