#include "tablesfixture.h"
#include "web/livejson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace fixture;

namespace {

QStringList names(const QJsonArray& cars)
{
    QStringList list;
    for (const QJsonValue& car : cars)
        list.append(car[QStringLiteral("name")].toString());
    return list;
}

QList<int> ints(const QJsonArray& cars, const QString& key)
{
    QList<int> list;
    for (const QJsonValue& car : cars)
        list.append(car[key].isNull() ? 0 : car[key].toInt());
    return list;
}

const QList<QualRow> twoHeats = {
    {1, 1, QStringLiteral("Rossi"), 10, 21.5},   {1, 2, QStringLiteral("Bianchi"), 11, 20.25},
    {2, 1, QStringLiteral("Verdi"), 9, 0},       {2, 2, QStringLiteral("Neri"), 12, 19.75},
    {2, 3, QStringLiteral("Gialli"), 0, -1},     {2, 4, QStringLiteral("Blu"), 12, 22.0},
};

const QList<FinalRow> twoFinals = {
    {QStringLiteral("B"), 1, QStringLiteral("Verdi"), 8, 2},  {QStringLiteral("B"), 2, QStringLiteral("Gialli"), 9, 1},
    {QStringLiteral("A"), 1, QStringLiteral("Neri"), 12, 0},  {QStringLiteral("A"), 2, QStringLiteral("Bianchi"), 14, 0},
    {QStringLiteral("A"), 3, QStringLiteral("Rossi"), 13, 0},
};

} // namespace

class TestLiveJson : public QObject
{
    Q_OBJECT
private slots:
    void raceFollowsTheGrid_data();
    void raceFollowsTheGrid();
    void raceCarFields();
    void readingLeavesTheCursorAlone();
    void qualificationRanksEveryHeat_data();
    void qualificationRanksEveryHeat();
    void finalsByLetterAndPosition();
    void closedTablesGiveEmptyDocuments();
    void snapshotIsCompactJson();
};

// The race document lists what the race window's grid shows, in its order, with the grid place as position.
void TestLiveJson::raceFollowsTheGrid_data()
{
    QTest::addColumn<bool>("finals");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expectedTitle");
    QTest::addColumn<QStringList>("expectedNames");

    QTest::newRow("heat 2, ranking order") << false << QStringLiteral("batteria = 2") << QString() << QStringLiteral("Batteria 2")
                                           << QStringList{"Neri", "Blu", "Verdi", "Gialli"};
    QTest::newRow("all heats") << false << QString() << QString() << QStringLiteral("Qualifiche")
                               << QStringList{"Neri", "Bianchi", "Rossi", "Blu", "Verdi", "Gialli"};
    QTest::newRow("caller's title wins") << false << QStringLiteral("batteria = 1") << QStringLiteral("Prova")
                                         << QStringLiteral("Prova") << QStringList{"Bianchi", "Rossi"};
    QTest::newRow("heat without cars") << false << QStringLiteral("batteria = 7") << QString() << QString() << QStringList();
    QTest::newRow("final B, most laps first") << true << QStringLiteral("finale = 'B'") << QString()
                                              << QStringLiteral("Finale B") << QStringList{"Gialli", "Verdi"};
    QTest::newRow("all finals") << true << QString() << QString() << QStringLiteral("Finali")
                                << QStringList{"Bianchi", "Rossi", "Neri", "Gialli", "Verdi"};
}

void TestLiveJson::raceFollowsTheGrid()
{
    QFETCH(bool, finals);
    QFETCH(QString, filter);
    QFETCH(QString, title);
    QFETCH(QString, expectedTitle);
    QFETCH(QStringList, expectedNames);

    Table table;
    if (finals) {
        fillFinals(table, twoFinals);
        table.setIndexName(layouts::finalsIndexName);
    } else {
        fillQualification(table, twoHeats);
        layouts::orderByRanking(table);
    }
    if (!filter.isEmpty()) {
        table.setFilter(filter);
        table.setFiltered(true);
    }
    const QJsonObject race = web::raceJson(&table, title, QStringLiteral("3:5"));
    QCOMPARE(race[QStringLiteral("race")].toString(), expectedTitle);
    QCOMPARE(race[QStringLiteral("remaining")].toString(), QStringLiteral("3:5"));
    const QJsonArray cars = race[QStringLiteral("cars")].toArray();
    QCOMPARE(names(cars), expectedNames);
    QList<int> places;
    for (int i = 1; i <= cars.size(); ++i)
        places.append(i);
    QCOMPARE(ints(cars, QStringLiteral("position")), places);
}

void TestLiveJson::raceCarFields()
{
    Table table;
    fillQualification(table, twoHeats);
    table.setFilter(QStringLiteral("batteria = 2"));
    table.setFiltered(true);
    const QJsonArray cars = web::raceJson(&table, QString(), QString())[QStringLiteral("cars")].toArray();
    const QJsonObject neri = cars.at(1).toObject();
    QCOMPARE(neri[QStringLiteral("name")].toString(), QStringLiteral("Neri"));
    QCOMPARE(neri[QStringLiteral("channel")].toInt(), 2);
    QVERIFY(neri[QStringLiteral("laps")].isDouble());
    QCOMPARE(neri[QStringLiteral("laps")].toInt(), 12);
    QCOMPARE(neri[QStringLiteral("best")].toString(), QStringLiteral("0.19.0"));
    QCOMPARE(neri[QStringLiteral("last")].toString(), QStringLiteral("0.19.0"));
    QCOMPARE(neri[QStringLiteral("total")].toString(), QStringLiteral("4.0"));
    QCOMPARE(neri[QStringLiteral("heat")].toInt(), 2);
    // A car without a passage has empty texts, not "null".
    const QJsonObject gialli = cars.at(2).toObject();
    QCOMPARE(gialli[QStringLiteral("best")], QJsonValue(QString()));
    QCOMPARE(gialli[QStringLiteral("laps")].toInt(), 0);
}

// The race window's grid follows the table's cursor: building the pages must not move it, nor
// disturb an edit in progress.
void TestLiveJson::readingLeavesTheCursorAlone()
{
    Table qualification;
    fillQualification(qualification, twoHeats);
    layouts::orderByRanking(qualification);
    qualification.setFilter(QStringLiteral("batteria = 2"));
    qualification.setFiltered(true);
    qualification.moveTo(2);
    qualification.edit();
    qualification.setValue(layouts::giri, 13);
    Table finals;
    fillFinals(finals, twoFinals);
    finals.moveTo(3);

    QSignalSpy moved(&qualification, &Table::cursorMoved);
    QSignalSpy finalsMoved(&finals, &Table::cursorMoved);
    QSignalSpy state(&qualification, &Table::stateChanged);
    web::snapshotFromTables(&qualification, QString(), QString(), &qualification, &finals);

    QCOMPARE(moved.count(), 0);
    QCOMPARE(finalsMoved.count(), 0);
    QCOMPARE(state.count(), 0);
    QCOMPARE(qualification.currentRow(), 2);
    QCOMPARE(qualification.state(), Table::State::Edit);
    QCOMPARE(qualification.value(layouts::giri).toInt(), 13);
    QCOMPARE(finals.currentRow(), 3);
}

// The ranking covers every heat even while the race window filters one; untimed competitors
// (no passage, or the 0 of a first passage) come last in table order.
void TestLiveJson::qualificationRanksEveryHeat_data()
{
    QTest::addColumn<QString>("filter");
    QTest::newRow("unfiltered") << QString();
    QTest::newRow("filtered to heat 1") << QStringLiteral("batteria = 1");
}

void TestLiveJson::qualificationRanksEveryHeat()
{
    QFETCH(QString, filter);
    Table table;
    fillQualification(table, twoHeats);
    if (!filter.isEmpty()) {
        table.setFilter(filter);
        table.setFiltered(true);
    }
    const QJsonArray cars = web::qualificationJson(&table)[QStringLiteral("cars")].toArray();
    QCOMPARE(names(cars), (QStringList{"Neri", "Bianchi", "Rossi", "Blu", "Verdi", "Gialli"}));
    QCOMPARE(ints(cars, QStringLiteral("position")), (QList<int>{1, 2, 3, 4, 5, 6}));
    QCOMPARE(ints(cars, QStringLiteral("heat")), (QList<int>{2, 1, 1, 2, 2, 2}));
    QCOMPARE(cars.at(3)[QStringLiteral("timed")].toBool(), true);
    QCOMPARE(cars.at(4)[QStringLiteral("timed")].toBool(), false);
    QCOMPARE(table.recordCount(), filter.isEmpty() ? 6 : 2); // the window's view is unchanged
}

void TestLiveJson::finalsByLetterAndPosition()
{
    Table table;
    fillFinals(table, twoFinals);
    table.setIndexName(layouts::finalsIndexName);
    table.setFilter(QStringLiteral("finale = 'B'"));
    table.setFiltered(true);
    const QJsonArray finals = web::finalsJson(&table)[QStringLiteral("finals")].toArray();
    QCOMPARE(finals.size(), 2);
    QCOMPARE(finals.at(0)[QStringLiteral("final")].toString(), QStringLiteral("A"));
    QCOMPARE(finals.at(1)[QStringLiteral("final")].toString(), QStringLiteral("B"));
    // Final A is still running: no positions yet, most laps first.
    const QJsonArray a = finals.at(0)[QStringLiteral("cars")].toArray();
    QCOMPARE(names(a), (QStringList{"Bianchi", "Rossi", "Neri"}));
    QVERIFY(a.at(0)[QStringLiteral("position")].isNull());
    // Final B has its standings.
    const QJsonArray b = finals.at(1)[QStringLiteral("cars")].toArray();
    QCOMPARE(names(b), (QStringList{"Gialli", "Verdi"}));
    QCOMPARE(ints(b, QStringLiteral("position")), (QList<int>{1, 2}));
    QCOMPARE(ints(b, QStringLiteral("laps")), (QList<int>{9, 8}));
}

void TestLiveJson::closedTablesGiveEmptyDocuments()
{
    Table closed;
    layouts::defineQualification(closed);
    for (const Table* t : {static_cast<const Table*>(nullptr), static_cast<const Table*>(&closed)}) {
        const QJsonObject race = web::raceJson(t, QString(), QString());
        QVERIFY(race.contains(QStringLiteral("race")));
        QVERIFY(race.contains(QStringLiteral("remaining")));
        QVERIFY(race[QStringLiteral("cars")].toArray().isEmpty());
        QVERIFY(web::qualificationJson(t)[QStringLiteral("cars")].toArray().isEmpty());
        QVERIFY(web::finalsJson(t)[QStringLiteral("finals")].toArray().isEmpty());
    }
}

void TestLiveJson::snapshotIsCompactJson()
{
    Table qualification;
    fillQualification(qualification, twoHeats);
    const web::LiveSnapshot s =
        web::snapshotFromTables(&qualification, QStringLiteral("Batteria 1"), QStringLiteral("1:0"), &qualification, nullptr);
    for (const QByteArray& doc : {s.race, s.qualifiche, s.finali}) {
        QJsonParseError error;
        QVERIFY(QJsonDocument::fromJson(doc, &error).isObject());
        QVERIFY(!doc.contains('\n'));
    }
    QCOMPARE(QJsonDocument::fromJson(s.race).object(),
             web::raceJson(&qualification, QStringLiteral("Batteria 1"), QStringLiteral("1:0")));
}

QTEST_GUILESS_MAIN(TestLiveJson)
#include "test_livejson.moc"
