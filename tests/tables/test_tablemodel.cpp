#include "tables/layouts.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "tests/support/testfolders.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

void defineRace(Table& table)
{
    table.clearFields();
    table.addField(QStringLiteral("nome"), FieldType::String, 30);
    table.addField(QStringLiteral("giri"), FieldType::Integer);
    table.addField(QStringLiteral("finale"), FieldType::String, 20);
    table.addField(QStringLiteral("quota"), FieldType::Float);
    table.addField(QStringLiteral("tempo"), FieldType::Time);
}

// What a grid shows, row by row.
QStringList shown(const QAbstractItemModel& model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(r, c).data().toString();
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// What the table holds in its visible order.
QStringList held(const Table& table)
{
    QStringList rows;
    for (int r = 0; r < table.recordCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < table.fieldCount(); ++c)
            cells << Table::displayText(table.valueAt(r, c), table.fields().at(c).type);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

QStringList headers(const QAbstractItemModel& model)
{
    QStringList out;
    for (int c = 0; c < model.columnCount(); ++c)
        out << model.headerData(c, Qt::Horizontal).toString();
    return out;
}

QStringList fieldNames(const Table& table)
{
    QStringList out;
    for (const FieldDef& f : table.fields())
        out << f.name;
    return out;
}

void moveToName(Table& table, const QString& name)
{
    for (table.first(); !table.eof(); table.next()) {
        if (table.value(QStringLiteral("nome")).toString() == name)
            return;
    }
    QFAIL(qPrintable(QStringLiteral("no row named ") + name));
}

} // namespace

class TestTableModel : public QObject
{
    Q_OBJECT

private slots:
    void followsEveryChangeOfTheTable();
    void showsValuesAndFieldNames();
    void editsGoThroughTheCursor();
    void competitionTablesRoundTrip_data();
    void competitionTablesRoundTrip();
};

void TestTableModel::followsEveryChangeOfTheTable()
{
    Table table(QStringLiteral("CDS_Finali"));
    defineRace(table);
    table.addIndex(IndexDef{QStringLiteral("InidiceDiscIdx"), QStringLiteral("giri"), true, true});
    TableModel model(&table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto mirrors = [&] {
        QCOMPARE(model.rowCount(), table.recordCount());
        QCOMPARE(shown(model), held(table));
    };

    table.createTable();
    table.setIndexName(QStringLiteral("InidiceDiscIdx"));
    const char* finals[] = {"A", "B", "A", "B", "A"};
    for (int i = 0; i < 5; ++i)
        table.appendRecord({QStringLiteral("car%1").arg(i + 1), 0, QString::fromLatin1(finals[i]), i * 0.5});
    mirrors();

    // Posted rows move; persistent indexes (a grid's selection) follow them.
    QSignalSpy moves(&model, &QAbstractItemModel::rowsMoved);
    const QPersistentModelIndex car4 = model.index(3, 0);
    moveToName(table, QStringLiteral("car4"));
    table.edit();
    table.setValue(QStringLiteral("giri"), 1);
    mirrors(); // the edit shows before it is posted
    table.post();
    mirrors();
    QCOMPARE(moves.size(), 1);
    QCOMPARE(car4.row(), 0);
    QCOMPARE(car4.data().toString(), QStringLiteral("car4"));
    moveToName(table, QStringLiteral("car2"));
    table.edit();
    table.setValue(QStringLiteral("giri"), 2);
    table.next(); // moving posts
    mirrors();
    moveToName(table, QStringLiteral("car2"));
    table.edit();
    table.setValue(QStringLiteral("giri"), -1); // down to the bottom
    table.post();
    mirrors();
    QCOMPARE(car4.data().toString(), QStringLiteral("car4"));

    // New rows, kept and dropped.
    table.first();
    table.insert();
    mirrors();
    table.next();
    mirrors();
    table.append();
    table.setValue(QStringLiteral("nome"), QStringLiteral("car6"));
    table.setValue(QStringLiteral("giri"), 1);
    table.post();
    mirrors();
    table.deleteRecord();
    mirrors();

    // Filter and order.
    table.setFilter(QStringLiteral("finale = 'A'"));
    table.setFiltered(true);
    mirrors();
    moveToName(table, QStringLiteral("car3"));
    table.edit();
    table.setValue(QStringLiteral("finale"), QStringLiteral("C")); // leaves the filter
    table.post();
    mirrors();
    table.appendRecord({QStringLiteral("car7"), 3, QStringLiteral("A")});
    table.appendRecord({QStringLiteral("car8"), 3, QStringLiteral("B")}); // hidden by the filter
    mirrors();
    table.setIndexFieldNames(QStringLiteral("nome"));
    mirrors();
    table.setFiltered(false);
    mirrors();
    QCOMPARE(model.rowCount(), 7);

    table.emptyTable();
    mirrors();
    table.close();
    QCOMPARE(model.rowCount(), 0);
    table.createTable();
    table.appendRecord({QStringLiteral("again")});
    mirrors();
}

void TestTableModel::showsValuesAndFieldNames()
{
    Table table;
    defineRace(table);
    table.createTable();
    TableModel model(&table);
    QCOMPARE(headers(model), (QStringList{"nome", "giri", "finale", "quota", "tempo"}));
    table.appendRecord({QStringLiteral("Anna"), 12, QVariant(), 0.1 + 0.2, 65.25 / 86400});
    table.appendRecord({QStringLiteral("Bruno"), -3, QStringLiteral("B"), 27.1, 0.5});
    QCOMPARE(shown(model), (QStringList{"Anna|12||0.30000000000000004|00:01:05.250", "Bruno|-3|B|27.1|12:00:00.000"}));
    QVERIFY(!model.index(0, 2).data().isValid()); // null shows nothing
    QCOMPARE(model.index(0, 1).data(Qt::EditRole), QVariant(12));
    QCOMPARE(model.index(0, 4).data(Qt::EditRole).toDouble(), 65250 / 86400000.0);
    QVERIFY(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
}

void TestTableModel::editsGoThroughTheCursor()
{
    Table table;
    defineRace(table);
    table.createTable();
    table.setIndexFieldNames(QStringLiteral("giri"));
    TableModel model(&table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    table.appendRecord({QStringLiteral("a"), 1});
    table.appendRecord({QStringLiteral("b"), 2});
    table.appendRecord({QStringLiteral("c"), 3});

    QVERIFY(model.setData(model.index(0, 1), 5));
    QCOMPARE(table.state(), Table::State::Edit);
    QCOMPARE(table.currentRow(), 0);
    QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("5")); // shown while being edited
    QVERIFY(model.setData(model.index(0, 2), QStringLiteral("A")));     // same row: still one edit
    QCOMPARE(table.state(), Table::State::Edit);

    // Editing another row posts the first one, which moves to the end; the edit still lands on the row
    // that was aimed at ("b", now first).
    QVERIFY(model.setData(model.index(1, 0), QStringLiteral("b!")));
    QCOMPARE(table.currentRow(), 0);
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("b!"));
    table.post();
    QCOMPARE(shown(model), (QStringList{"b!|2|||", "c|3|||", "a|5|A||"}));

    // Refused values are reported, not thrown.
    QSignalSpy errors(&model, &TableModel::errorOccurred);
    QVERIFY(!model.setData(model.index(0, 1), QStringLiteral("two")));
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("'two' is not a valid integer value"));
    table.cancel();

    model.setReadOnly(true);
    QVERIFY(!model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
    QVERIFY(!model.setData(model.index(0, 0), QStringLiteral("x")));
    QCOMPARE(table.state(), Table::State::Browse);
}

void TestTableModel::competitionTablesRoundTrip_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("file");
    QTest::newRow("competitor list") << 0 << layouts::competitorListFile;
    QTest::newRow("heats") << 1 << layouts::heatsFile;
    QTest::newRow("qualification") << 2 << layouts::qualificationFile;
    QTest::newRow("finals") << 3 << layouts::finalsFile;
}

void TestTableModel::competitionTablesRoundTrip()
{
    QFETCH(int, layout);
    QFETCH(QString, file);

    TestFolders folders;
    const QString path = folders.program() + file;
    void (*const define[])(Table&) = {layouts::defineCompetitorList, layouts::defineHeats, layouts::defineQualification,
                                      layouts::defineFinals};
    Table built;
    define[layout](built);
    built.createTable();
    for (int i = 1; i <= 4; ++i) {
        QVariantList values;
        // The last row leaves its later fields null, as a freshly built race row does.
        const int count = i == 4 ? 2 : built.fieldCount();
        for (int f = 0; f < count; ++f) {
            switch (built.fields().at(f).type) {
            case FieldType::Integer:
                values << i * 10 + f;
                break;
            case FieldType::Float:
                values << 27.125 + i;
                break;
            case FieldType::Time:
                values << (i * 61000 + f) / 86400000.0;
                break;
            case FieldType::String:
                values << QStringLiteral("Niccolò %1 & <%2> long enough to be cut at thirty").arg(i).arg(f);
                break;
            }
        }
        built.appendRecord(values);
    }
    built.saveToFile(path);

    Table reopened;
    if (layout == 3) {
        layouts::openFinals(reopened, path);
        reopened.setIndexName(layouts::finalsIndexName);
    } else {
        reopened.setFileName(path);
        reopened.open();
    }
    TableModel model(&reopened);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(headers(model), fieldNames(built));
    if (layout == 3)
        built.setIndexName(layouts::finalsIndexName);
    QCOMPARE(shown(model), held(built));
    QCOMPARE(model.rowCount(), 4);
}

QTEST_GUILESS_MAIN(TestTableModel)
#include "test_tablemodel.moc"
