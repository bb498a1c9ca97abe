#include "device/serialport.h"
#include "race/gestione_gare.h"
#include "settings/settingsfile.h"
#include "settings/tempo_min.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "tests/support/program.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The program's start: its windows, the race window's controls, menu and start-up state, and the
// race window's own menu actions.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void windowsInCreationOrder();
    void raceWindowStartupState();
    void menuCaptionsAndOrder();
    void raceWindowControls_data();
    void raceWindowControls();
    void settingsFileAtStartup();
    void creationErrorIsShownAndStartupGoesOn();
    void enableMenus();
    void exitWritesBackTheRaceTable();
};

void TestStartup::windowsInCreationOrder()
{
    ProgramSession program;
    program.start();
    const QList<QPair<QString, QString>> windows = {
        {"Gestione_gare", "Quintara 2.6"},
        {"Frm_concorrenti", "Inserimento concorrenti"},
        {"Form_batterie", "batterie"},
        {"Frm_lista_batterie", "Batterie generate"},
        {"Form_Qualifica", "Scegli nr.batteria"},
        {"Form_Semaforo", "Semaforo"},
        {"Form_1min", "Manca Un Minuto ....."},
        {"FormStop", "STOP"},
        {"Form_Finali", "Finali"},
        {"Form_Scelta_Comm", "Impostazione COMM"},
        {"Form_About", "About"},
        {"Form_Via", "Pornti.. Via"},
        {"Form_All_Laser", "Fine Allineamento Laser"},
        {"Form_Dati_Seriale", "Form_Dati_Seriale"},
        {"Form_tempo_min", "Imp.tempo min. giro"},
    };
    QStringList created;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<Form*>(w))
            created.append(w->objectName());
    }
    QCOMPARE(created.size(), windows.size());
    for (const auto& [name, caption] : windows) {
        QWidget* window = nullptr;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (t->objectName() == name)
                window = t;
        QVERIFY2(window, qPrintable(name));
        QCOMPARE(window->windowTitle(), caption);
        QVERIFY2(!window->isVisible(), qPrintable(name)); // created hidden; main() shows the race window
        if (name != QLatin1String("Gestione_gare"))
            QVERIFY2(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint), qPrintable(name));
    }
    QVERIFY(!Gestione_gare->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

void TestStartup::raceWindowStartupState()
{
    ProgramSession program;
    program.start();
    TGestione_gare* g = Gestione_gare;
    g->show();

    QVERIFY(!g->Bitb_Start->isEnabled());
    QVERIFY(!g->Bitb_Stop->isEnabled());
    QVERIFY(g->Btn_Fine_Manche->isHidden());

    const QStringList disabled = {"Crea1", "CreaNuoveQualifiche1", "ScegliBatteria1", "EstraiFinalisti1",
                                  "Visualizzarisultatifinali1", "Stampareportfinali1", "StampaBatterie1",
                                  "Stampaqualifiche1", "VisualizzarisultatiQualifiche1"};
    QStringList found;
    for (QAction* a : g->findChildren<QAction*>()) {
        if (a->objectName().isEmpty() || a->menu())
            continue;
        if (!a->isEnabled())
            found.append(a->objectName());
    }
    found.sort();
    QStringList expected = disabled;
    expected.sort();
    QCOMPARE(found, expected);

    QCOMPARE(g->Lbl_Comm->text(), QStringLiteral("1"));
    QCOMPARE(g->Ed_Qual_da_fare->text(), QStringLiteral("Ed_Qual_da_fare"));
    QCOMPARE(g->Ed_Nr_Batterie->text(), QStringLiteral("Ed_Nr_Batterie"));
    QCOMPARE(g->Ed_Finali_Fatte->text(), QStringLiteral("Ed_Finali_Fatte"));
    QVERIFY(g->Ed_Qual_da_fare->isHidden());
    QVERIFY(g->Ed_Nr_Batterie->isHidden());
    QVERIFY(g->Ed_Finali_Fatte->isHidden());
    QVERIFY(g->Ed_Durata_Gara->text().isEmpty());
    QVERIFY(!g->Timer1->isActive());
    QCOMPARE(g->Timer1->interval(), 1000);
    QCOMPARE(g->Timer1->timerType(), Qt::PreciseTimer);
    for (int ch = 1; ch <= 5; ++ch)
        QVERIFY(g->channels[ch].channelFinished);
    QVERIFY(!g->CDS_Gara->isOpen());
    QCOMPARE(g->settingsPath, paths::installFolder() + settingsfile::fileName);
}

void TestStartup::menuCaptionsAndOrder()
{
    ProgramSession program;
    program.start();
    const QList<QAction*> bar = Gestione_gare->menuBar()->actions();
    QStringList titles;
    for (QAction* a : bar)
        titles.append(a->text());
    QCOMPARE(titles, (QStringList{"File", "Concorrenti", "Batterie", "Qualifiche", "Finali", "Gara", "Help"}));

    auto captions = [](const char* menuName) {
        QStringList list;
        const auto* menu = Gestione_gare->findChild<QMenu*>(QLatin1String(menuName));
        for (QAction* a : menu->actions())
            list.append(a->objectName() + QLatin1Char('=') + a->text());
        return list;
    };
    QCOMPARE(captions("File1"),
             (QStringList{"Impostazioni1=Impostaz.Com", "Impostazionetempominimo1=Impostazione tempo minimo",
                          "abilitomenQualifiche1=abilito menù Qualifiche", "Impostazfinali1=abilito menu' finali",
                          "Utilit1_action=Utilità", "Exit1=Exit"}));
    QCOMPARE(captions("Utilit1"),
             (QStringList{"Allineamentolaser1=Allineamento laser", "Verificadialogoseriale1=Verifica dialogo seriale",
                          "Verificadatiseriale1=Verifica dati seriale"}));
    QCOMPARE(captions("Concorrenti1"), (QStringList{"Inserimento1=Gestione"}));
    QCOMPARE(captions("Batterie1"), (QStringList{"Crea1=Gestione"}));
    QCOMPARE(captions("Qualifiche1"),
             (QStringList{"CreaNuoveQualifiche1=Crea Nuove Qualifiche", "StampaBatterie1=Stampa Batterie",
                          "ScegliBatteria1=Scegli Batteria",
                          "VisualizzarisultatiQualifiche1=Visualizza risultati Qualifiche",
                          "Stampaqualifiche1=Stampa qualifiche"}));
    QCOMPARE(captions("Finali1"),
             (QStringList{"EstraiFinalisti1=Estrai Finalisti", "Visualizzarisultatifinali1=Visualizza risultati finali",
                          "Stampareportfinali1=Stampa report finali"}));
    QCOMPARE(captions("Gara1"),
             (QStringList{"AggiungiGiro1=Aggiungi giro 1", "AggiungiGiro2=Aggiungi giro 2", "AggiungiGiro3=Aggiungi giro 3",
                          "AggiungiGiro4=Aggiungi giro 4", "AggiungiGiro5=Aggiungi giro 5", "=", "TogliGiro1=Togli giro 1",
                          "TogliGiro2=Togli giro 2", "TogliGiro3=Togli giro 3", "TogliGiro4=Togli giro 4",
                          "TogliGiro5=Togli giro 5", "=", "AnnunciVocali1=Annunci vocali",
                          "Indirizzorisultatiindiretta1=Indirizzo risultati in diretta"}));
    QCOMPARE(captions("Help1"), (QStringList{"Help2=Istruzioni all'uso", "About1=About"}));
}

void TestStartup::raceWindowControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // width or height -1: not checked
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");

    QTest::newRow("grid") << "DBGr_sit_conc" << QRect(40, 40, 657, 289) << "" << "";
    QTest::newRow("Label1") << "Label1" << QRect(576, 344, -1, -1) << "Tempo residuo:" << "";
    QTest::newRow("Ed_Durata_Gara") << "Ed_Durata_Gara" << QRect(576, 368, 113, 40) << ""
                                    << "Tempo residuo della gara in corso";
    QTest::newRow("Label4") << "Label4" << QRect(576, 416, -1, -1) << "minuti/secondi" << "";
    QTest::newRow("Label2") << "Label2" << QRect(376, 344, -1, -1) << "Qualifiche da fare:" << "";
    QTest::newRow("Mem_qual_da_fare") << "Mem_qual_da_fare" << QRect(376, 368, 65, 41) << ""
                                      << "nr. qualifiche da  disputare per la batteria visualizzata";
    QTest::newRow("Label3") << "Label3" << QRect(472, 344, -1, -1) << "Qualifiche fatte:" << "";
    QTest::newRow("Mem_Qualif_fatte") << "Mem_Qualif_fatte" << QRect(472, 368, 65, 41) << ""
                                      << "nr. qualifiche ancora da disputare per la batteria visualizzata";
    QTest::newRow("Start") << "Bitb_Start" << QRect(376, 424, 81, 41) << "Start" << "Inizio la gara";
    QTest::newRow("Interrompi") << "Bitb_Stop" << QRect(376, 472, 81, 41) << "Interrompi" << "termino la gara";
    QTest::newRow("Fine manche") << "Btn_Fine_Manche" << QRect(472, 424, 81, 41) << "Fine manche" << "";
    QTest::newRow("Label21") << "Label21" << QRect(657, 496, -1, -1) << "Com:" << "";
    QTest::newRow("Lbl_Comm") << "Lbl_Comm" << QRect(688, 496, -1, -1) << "1"
                              << "fare doppio click per verificare dialogo com";
    QTest::newRow("Sh_Ok_Com") << "Sh_Ok_Com" << QRect(624, 496, 25, 17) << "" << "";
    QTest::newRow("Image1") << "Image1" << QRect(24, 360, 320, 150) << "" << "";
    QTest::newRow("Pos.") << "Lbl_Pos" << QRect(16, 40, -1, -1) << "Pos." << "";
    QTest::newRow("position 15") << "Lbl_Pos15" << QRect(16, 315, 18, 16) << "15" << "";
}

void TestStartup::raceWindowControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    ProgramSession program;
    program.start();
    auto* w = Gestione_gare->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->pos(), geometry.topLeft());
    if (geometry.width() >= 0)
        QCOMPARE(w->size(), geometry.size());
    QFETCH(QString, text);
    QFETCH(QString, hint);
    if (auto* l = qobject_cast<QLabel*>(w); l && !text.isEmpty())
        QCOMPARE(l->text(), text);
    if (auto* b = qobject_cast<QPushButton*>(w))
        QCOMPARE(b->text(), text);
    QCOMPARE(w->toolTip(), hint);
}

void TestStartup::settingsFileAtStartup()
{
    ProgramSession program;
    settingsfile::write(program.folders().install() + settingsfile::fileName, 2, 5);
    program.start();
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 2);
    QCOMPARE(Gestione_gare->Lbl_Comm->text(), QStringLiteral("2"));
    QCOMPARE(Form_tempo_min->Ed_tempo_min->text(), QStringLiteral("5"));
}

void TestStartup::creationErrorIsShownAndStartupGoesOn()
{
    ProgramSession program;
    QFile ini(program.folders().install() + settingsfile::fileName);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[settings]\r\nCom\r\nuno\r\nTmin\r\n5\r\n");
    ini.close();
    program.start();
    QVERIFY(dialogs::shownTexts().contains(QStringLiteral("'uno' is not a valid integer value")));
    // The rest of the creation handler is skipped; later windows are still created.
    QCOMPARE(Gestione_gare->VaComm1->PortNum(), 1);
    QVERIFY(Form_tempo_min);
    QCOMPARE(Form_tempo_min->Ed_tempo_min->text(), QStringLiteral("5"));
}

void TestStartup::enableMenus()
{
    ProgramSession program;
    program.start();
    Gestione_gare->abilitomenQualifiche1->trigger();
    QVERIFY(Gestione_gare->CreaNuoveQualifiche1->isEnabled());
    QVERIFY(!Gestione_gare->EstraiFinalisti1->isEnabled());
    Gestione_gare->Impostazfinali1->trigger();
    QVERIFY(Gestione_gare->EstraiFinalisti1->isEnabled());
    QVERIFY(Gestione_gare->Visualizzarisultatifinali1->isEnabled());
    QVERIFY(Gestione_gare->Stampareportfinali1->isEnabled());
    QVERIFY(!Gestione_gare->Crea1->isEnabled());
}

void TestStartup::exitWritesBackTheRaceTable()
{
    ProgramSession program;
    program.start();
    // A qualification table opened from its file, with a lap counted in memory.
    Table built;
    layouts::defineQualification(built);
    built.createTable();
    built.appendRecord({1, 1, QStringLiteral("Anna"), 0});
    const QString path = paths::programFile(layouts::qualificationFile);
    built.saveToFile(path);

    Table* gara = Gestione_gare->CDS_Gara;
    gara->setFileName(path);
    gara->open();
    gara->first();
    gara->edit();
    gara->setValue(layouts::giri, 1);
    gara->post();

    Gestione_gare->show();
    Gestione_gare->Exit1->trigger();
    QVERIFY(!gara->isOpen());
    QVERIFY(!Gestione_gare->isVisible());

    Table reread;
    reread.setFileName(path);
    reread.open();
    QCOMPARE(reread.asInteger(layouts::giri), 1);
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
