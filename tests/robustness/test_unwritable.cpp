#include "competitors/concorrenti.h"
#include "race/gestione_gare.h"
#include "settings/settingsfile.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tests/support/racefixture.h"
#include "tests/support/program.h"
#include "tools/sim/simulator.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

enum class Fault { FullDisk, FolderAtTarget };

// While it lives, the file cannot be written, for root too: a full disk is a file size limit of a few bytes (with
// SIGXFSZ ignored, a write past it fails with EFBIG); a folder where the file goes can be neither opened for writing
// nor replaced by a rename. The file's old bytes are kept aside and put back when the fault is lifted.
class FaultScope
{
public:
    FaultScope(Fault fault, const QString& file) : m_fault(fault), m_file(file)
    {
        if (m_fault == Fault::FullDisk) {
            ::getrlimit(RLIMIT_FSIZE, &m_limit);
            rlimit tight = m_limit;
            tight.rlim_cur = 16; // less than any file the program writes
            m_applied = ::setrlimit(RLIMIT_FSIZE, &tight) == 0;
        } else {
            QFile old(m_file);
            m_existed = old.open(QIODevice::ReadOnly);
            if (m_existed)
                m_bytes = old.readAll();
            old.close();
            // Not empty, so that no rename may take its place either.
            m_applied = (!m_existed || QFile::remove(m_file)) && QDir().mkpath(m_file) &&
                        touch(m_file + QStringLiteral("/keep"));
        }
    }
    ~FaultScope() { lift(); }
    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;

    bool applied() const { return m_applied; }
    void lift()
    {
        if (!m_applied)
            return;
        if (m_fault == Fault::FullDisk) {
            ::setrlimit(RLIMIT_FSIZE, &m_limit);
        } else {
            QDir(m_file).removeRecursively();
            if (m_existed) {
                QFile old(m_file);
                if (old.open(QIODevice::WriteOnly))
                    old.write(m_bytes);
            }
        }
        m_applied = false;
    }

private:
    static bool touch(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly);
    }

    Fault m_fault;
    QString m_file;
    rlimit m_limit{};
    QByteArray m_bytes;
    bool m_existed = false;
    bool m_applied = false;
};

void addFaultRows(const char* what)
{
    QTest::newRow(qPrintable(QStringLiteral("%1, full disk").arg(QLatin1StringView(what)))) << Fault::FullDisk;
    QTest::newRow(qPrintable(QStringLiteral("%1, folder where the file goes").arg(QLatin1StringView(what))))
        << Fault::FolderAtTarget;
}

// Every entry with its content: a failed save leaves neither a changed file nor a stray temporary one.
QMap<QString, QByteArray> folderSnapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        // The passage journal grows with every passage of the race on track: it is not a table.
        if (!name.startsWith(QLatin1String("passaggi.journal")))
            files.insert(name, readFile(dir.filePath(name)));
    }
    return files;
}

void saveCompetitors(const QString& path, const QStringList& names)
{
    Table list;
    layouts::defineCompetitorList(list);
    list.createTable();
    for (const QString& name : names)
        list.appendRecord({name, 27.1, QStringLiteral("A")});
    list.saveToFile(path);
}

QStringList competitorsIn(const QString& path)
{
    Table list;
    list.setFileName(path);
    list.open();
    QStringList names;
    for (list.first(); !list.eof(); list.next())
        names << list.asString(layouts::concorrente);
    return names;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

// A full disk or a folder where the file goes: each save reports an error, the old file stays as it was, and the
// data is still there to be saved once the fault is gone.
class TestUnwritable : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tableSave_data();
    void tableSave();
    void tableCloseKeepsTheRows_data();
    void tableCloseKeepsTheRows();
    void settingsFile_data();
    void settingsFile();
    void competitorListClose_data();
    void competitorListClose();
    void raceEnd_data();
    void raceEnd();
};

void TestUnwritable::initTestCase()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

void TestUnwritable::tableSave_data()
{
    QTest::addColumn<Fault>("fault");
    addFaultRows("table save");
}

void TestUnwritable::tableSave()
{
    QFETCH(Fault, fault);
    QTemporaryDir dir;
    const QString path = dir.filePath(layouts::competitorListFile);
    saveCompetitors(path, {QStringLiteral("Anna"), QStringLiteral("Bruno")});
    const auto before = folderSnapshot(dir.path());

    Table list;
    list.setFileName(path);
    list.open();
    list.appendRecord({QStringLiteral("Carla"), 27.3, QStringLiteral("B")});
    {
        FaultScope scope(fault, path);
        QVERIFY(scope.applied());
        try {
            list.saveToFile(path);
            QFAIL("the save reported success");
        } catch (const IoError& e) {
            QVERIFY2(e.message().contains(layouts::competitorListFile), qPrintable(e.message()));
        }
    }
    QCOMPARE(folderSnapshot(dir.path()), before);
    QVERIFY(list.changedSinceSave());

    list.saveToFile(path);
    QCOMPARE(competitorsIn(path), (QStringList{"Anna", "Bruno", "Carla"}));
}

void TestUnwritable::tableCloseKeepsTheRows_data()
{
    QTest::addColumn<Fault>("fault");
    addFaultRows("table close");
}

// Closing writes a changed table back; when that fails the table stays open with its rows.
void TestUnwritable::tableCloseKeepsTheRows()
{
    QFETCH(Fault, fault);
    QTemporaryDir dir;
    const QString path = dir.filePath(layouts::competitorListFile);
    saveCompetitors(path, {QStringLiteral("Anna")});
    const auto before = folderSnapshot(dir.path());

    Table list;
    list.setFileName(path);
    list.open();
    list.edit();
    list.setValue(layouts::concorrente, QStringLiteral("Anita"));
    {
        FaultScope scope(fault, path);
        QVERIFY(scope.applied());
        QVERIFY_THROWS_EXCEPTION(IoError, list.close());
    }
    QCOMPARE(folderSnapshot(dir.path()), before);
    QVERIFY(list.isOpen());
    QCOMPARE(list.asString(layouts::concorrente), QStringLiteral("Anita"));

    list.close();
    QVERIFY(!list.isOpen());
    QCOMPARE(competitorsIn(path), QStringList{"Anita"});
}

void TestUnwritable::settingsFile_data()
{
    QTest::addColumn<Fault>("fault");
    addFaultRows("settings file");
}

void TestUnwritable::settingsFile()
{
    QFETCH(Fault, fault);
    QTemporaryDir dir;
    const QString path = dir.filePath(settingsfile::fileName);
    settingsfile::write(path, 1, 10);
    const auto before = folderSnapshot(dir.path());
    {
        FaultScope scope(fault, path);
        QVERIFY(scope.applied());
        QVERIFY_THROWS_EXCEPTION(IoError, settingsfile::write(path, 3, 25));
    }
    QCOMPARE(folderSnapshot(dir.path()), before);
    QCOMPARE(readFile(path), settingsfile::contents(1, 10));
}

void TestUnwritable::competitorListClose_data()
{
    QTest::addColumn<Fault>("fault");
    addFaultRows("competitor list");
}

// The competitor window saves its list on closing: a failed save is shown, and the window stays open with the list.
void TestUnwritable::competitorListClose()
{
    QFETCH(Fault, fault);
    ProgramSession session(ProgramSession::Device::None);
    const QString path = paths::programFile(layouts::competitorListFile);
    saveCompetitors(path, {QStringLiteral("Anna"), QStringLiteral("Bruno")});
    session.start();
    Gestione_gare->Inserimento1->trigger();
    QVERIFY(Frm_concorrenti->isVisible());
    Frm_concorrenti->CDS_lista_conc->appendRecord({QStringLiteral("Carla"), 27.3, QStringLiteral("B")});
    const auto before = folderSnapshot(session.folders().program());
    dialogs::clearShown();
    {
        FaultScope scope(fault, path);
        QVERIFY(scope.applied());
        Frm_concorrenti->Button2->click();
    }
    QVERIFY(Frm_concorrenti->isVisible());
    QCOMPARE(dialogs::shownTexts().size(), 1);
    QVERIFY2(dialogs::shownTexts().constFirst().contains(layouts::competitorListFile),
             qPrintable(dialogs::shownTexts().constFirst()));
    QCOMPARE(folderSnapshot(session.folders().program()), before);

    dialogs::clearShown();
    Frm_concorrenti->Button2->click();
    QVERIFY(!Frm_concorrenti->isVisible());
    QVERIFY(dialogs::shown().isEmpty());
    QCOMPARE(competitorsIn(path), (QStringList{"Anna", "Bruno", "Carla"}));
}

void TestUnwritable::raceEnd_data()
{
    QTest::addColumn<Fault>("fault");
    addFaultRows("race end");
}

// The race table is saved when the last car finishes; when that fails the laps stay in memory, and the program's
// Exit, which writes the race table back, keeps the window open until it can.
void TestUnwritable::raceEnd()
{
    QFETCH(Fault, fault);
    RaceFixture race;
    QVERIFY(race.buildQualifications(1, 1));
    QVERIFY(race.startRace());
    QVERIFY(race.receive("1", 0));
    QVERIFY(race.receive("1", 9000));
    race.tick(100);
    const QString path = paths::programFile(layouts::qualificationFile);
    const QString folder = race.session().folders().program();
    const auto before = folderSnapshot(folder);
    QVERIFY(before.contains(layouts::qualificationFile));
    dialogs::clearShown();
    Gestione_gare->show();
    {
        FaultScope scope(fault, path);
        QVERIFY(scope.applied());
        QVERIFY(race.receive("1", 70000)); // the last passage of the only car
        QTRY_COMPARE(race.device().commandText(), QByteArray("X"));
        QCOMPARE(dialogs::shownTexts().size(), 1);
        QVERIFY2(dialogs::shownTexts().constFirst().contains(layouts::qualificationFile),
                 qPrintable(dialogs::shownTexts().constFirst()));
        QCOMPARE(RaceFixture::value(1, layouts::giri).toInt(), 3);

        dialogs::clearShown();
        Gestione_gare->Exit1->trigger();
        QCOMPARE(dialogs::shownTexts().size(), 1);
        QVERIFY(Gestione_gare->isVisible());
        QVERIFY(Gestione_gare->CDS_Gara->isOpen());
    }
    QCOMPARE(folderSnapshot(folder), before);

    dialogs::clearShown();
    Gestione_gare->Exit1->trigger();
    QVERIFY(dialogs::shown().isEmpty());
    QVERIFY(!Gestione_gare->isVisible());
    Table saved;
    saved.setFileName(path);
    saved.open();
    QCOMPARE(saved.recordCount(), 1);
    QCOMPARE(saved.asInteger(layouts::giri), 3);
}

QTEST_MAIN(TestUnwritable)
#include "test_unwritable.moc"
