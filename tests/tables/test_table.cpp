#include "tables/table.h"
#include "tests/support/errors.h"
#include "tests/support/testfolders.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A race table: the fields the program filters and sorts on.
void defineRace(Table& table)
{
    table.clearFields();
    table.addField(QStringLiteral("batteria"), FieldType::Integer);
    table.addField(QStringLiteral("nome"), FieldType::String, 30);
    table.addField(QStringLiteral("giri"), FieldType::Integer);
    table.addField(QStringLiteral("tempo"), FieldType::Time);
    table.addField(QStringLiteral("finale"), FieldType::String, 20);
    table.addField(QStringLiteral("quota"), FieldType::Float);
}

// The visible rows of one field, top to bottom; <null> for null.
QStringList column(const Table& table, const QString& field)
{
    QStringList out;
    const int f = table.fieldIndexOrThrow(field);
    for (int row = 0; row < table.recordCount(); ++row) {
        const QVariant v = table.valueAt(row, f);
        out << (v.isValid() ? Table::displayText(v, table.fields().at(f).type) : QStringLiteral("<null>"));
    }
    return out;
}

// Walks to the row whose "nome" is name and sets field to value in one edit.
void postAt(Table& table, const QString& name, const QString& field, const QVariant& value)
{
    table.first();
    while (!table.eof() && table.value(QStringLiteral("nome")).toString() != name)
        table.next();
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), name);
    table.edit();
    table.setValue(field, value);
    table.post();
}

} // namespace

class TestTable : public QObject
{
    Q_OBJECT

private slots:
    void layoutDefinesFields();
    void closedTableRefusesRowAndFieldOperations_data();
    void closedTableRefusesRowAndFieldOperations();
    void errorsCarryTheEngineMessages_data();
    void errorsCarryTheEngineMessages();
    void writesConvertToTheFieldType_data();
    void writesConvertToTheFieldType();
    void timeValuesReadBackRounded();
    void sortsByTheActiveOrder_data();
    void sortsByTheActiveOrder();
    void equalKeysKeepAppendOrderAndPutRekeyedRowsFirst();
    void filterShowsMatchingRows();
    void invalidFilterLeavesPreviousFilterInForce_data();
    void invalidFilterLeavesPreviousFilterInForce();
    void cursorWalksVisibleRows();
    void movingPostsModifiedRowsAndDropsUntouchedNewRows();
    void insertAppendDeleteEmpty();
    void closeAndDestructorWriteBackChangedTables();
    void loadFromFileClosesFirstAndKeepsFileName();
    void fileNamesResolveWithoutCase();
    void indexDefinitionsSurviveLoading();
    void textLongerThanItsWidthIsKept();
    void brokenFilesLeaveTableAndFileUntouched_data();
    void brokenFilesLeaveTableAndFileUntouched();
    void failedSaveKeepsTheOldFile();
};

void TestTable::layoutDefinesFields()
{
    Table table(QStringLiteral("CDS_Gara"));
    defineRace(table);
    QCOMPARE(table.fieldCount(), 6);
    QCOMPARE(table.fields().at(1).size, 30);
    QCOMPARE(table.fields().at(4).size, 20); // no size given
    QCOMPARE(table.fieldIndex(QStringLiteral("GIRI")), 2);
    QCOMPARE(table.fieldIndex(QStringLiteral("nope")), -1);
    QCOMPARE(errorOf([&] { table.addField(QStringLiteral("Giri"), FieldType::Integer); }),
             QStringLiteral("Duplicate field name 'Giri'"));

    table.createTable();
    QVERIFY(table.isOpen());
    QVERIFY(table.isEmpty());
    QCOMPARE(table.state(), Table::State::Browse);
    QCOMPARE(errorOf([&] { table.addField(QStringLiteral("x"), FieldType::Integer); }),
             QStringLiteral("Cannot perform this operation on an open dataset"));
    table.close();
    QCOMPARE(table.fieldCount(), 6); // the layout outlives the rows
}

void TestTable::closedTableRefusesRowAndFieldOperations_data()
{
    QTest::addColumn<int>("operation");
    const char* names[] = {"first",      "next",       "prior",     "last",    "moveTo",       "edit",
                           "post",       "cancel",     "insert",    "append",  "appendRecord", "deleteRecord",
                           "emptyTable", "value",      "setValue",  "valueAt", "asInteger",    "asString",
                           "asFloat",    "saveToFile", "finishEdit"};
    for (int i = 0; i < int(std::size(names)); ++i)
        QTest::newRow(names[i]) << i;
}

void TestTable::closedTableRefusesRowAndFieldOperations()
{
    QFETCH(int, operation);
    Table table(QStringLiteral("CDS"));
    defineRace(table);
    const QString giri = QStringLiteral("giri");
    const std::function<void()> operations[] = {
        [&] { table.first(); },
        [&] { table.next(); },
        [&] { table.prior(); },
        [&] { table.last(); },
        [&] { table.moveTo(0); },
        [&] { table.edit(); },
        [&] { table.post(); },
        [&] { table.cancel(); },
        [&] { table.insert(); },
        [&] { table.append(); },
        [&] { table.appendRecord({1}); },
        [&] { table.deleteRecord(); },
        [&] { table.emptyTable(); },
        [&] { table.value(giri); },
        [&] { table.setValue(giri, 1); },
        [&] { table.valueAt(0, 0); },
        [&] { table.asInteger(giri); },
        [&] { table.asString(giri); },
        [&] { table.asFloat(giri); },
        [&] { table.saveToFile(QDir::tempPath() + QStringLiteral("/never.xml")); },
        [&] { table.finishEdit(); },
    };
    QCOMPARE(errorOf(operations[operation]), QStringLiteral("Cannot perform this operation on a closed dataset"));
    QCOMPARE(table.recordCount(), 0);
    QVERIFY(table.eof() && table.bof());
}

void TestTable::errorsCarryTheEngineMessages_data()
{
    QTest::addColumn<QString>("tableName");
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("message");

    QTest::newRow("field not found") << "CDS_Gara" << 0 << "CDS_Gara: Field 'nope' not found";
    QTest::newRow("field not found, unnamed table") << "" << 0 << "Field 'nope' not found";
    QTest::newRow("write in browse state") << "" << 1 << "Dataset not in edit or insert mode";
    QTest::newRow("null as integer") << "" << 2 << "Could not convert variant of type (Null) into type (Integer)";
    QTest::newRow("null as string") << "" << 3 << "Could not convert variant of type (Null) into type (String)";
    QTest::newRow("null as float") << "" << 4 << "Could not convert variant of type (Null) into type (Double)";
    QTest::newRow("delete on empty table") << "" << 5 << "Cannot perform this operation on an empty dataset";
    QTest::newRow("unknown index") << "" << 6 << "Index 'nope' not found";
    QTest::newRow("unknown sort field") << "CDS" << 7 << "CDS: Field 'nope' not found";
    QTest::newRow("open without a file name") << "" << 8 << "Missing data provider or data packet";
    QTest::newRow("too many values") << "" << 9 << "7 values given for 6 fields";
}

void TestTable::errorsCarryTheEngineMessages()
{
    QFETCH(QString, tableName);
    QFETCH(int, operation);
    QFETCH(QString, message);

    Table table(tableName);
    defineRace(table);
    if (operation != 8)
        table.createTable();
    if (operation >= 2 && operation <= 4) {
        table.appendRecord({1, QStringLiteral("Anna")});
        table.first();
    }
    const QString giri = QStringLiteral("giri");
    const std::function<void()> operations[] = {
        [&] { table.value(QStringLiteral("nope")); },
        [&] { table.setValue(giri, 1); },
        [&] { table.asInteger(giri); },
        [&] { table.asString(giri); },
        [&] { table.asFloat(giri); },
        [&] { table.deleteRecord(); },
        [&] { table.setIndexName(QStringLiteral("nope")); },
        [&] { table.setIndexFieldNames(QStringLiteral("giri;nope")); },
        [&] { table.open(); },
        [&] {
            table.appendRecord({1, 2, 3, 4, 5, 6, 7});
        },
    };
    try {
        operations[operation]();
        QFAIL("no error raised");
    } catch (const EngineError& e) {
        QCOMPARE(e.message(), message);
    }
}

void TestTable::writesConvertToTheFieldType_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<QString>("expected"); // display text, <null>, or the error message

    const QString thirtyOne = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDE");
    QTest::newRow("string cut to its size") << "nome" << QVariant(thirtyOne) << thirtyOne.left(30);
    QTest::newRow("time text cut to 20") << "finale" << QVariant(QStringLiteral("123456789012345678901"))
                                         << "12345678901234567890";
    QTest::newRow("empty string stays a string") << "nome" << QVariant(QString("")) << "";
    QTest::newRow("number into a string") << "nome" << QVariant(27.1) << "27.1";
    QTest::newRow("integer from text") << "giri" << QVariant(QStringLiteral(" 12 ")) << "12";
    QTest::newRow("integer from bad text")
        << "giri" << QVariant(QStringLiteral("12a")) << "'12a' is not a valid integer value";
    QTest::newRow("integer from empty text is null") << "giri" << QVariant(QString("")) << "<null>";
    QTest::newRow("integer overflow") << "giri" << QVariant(qint64(1) << 40)
                                      << "Overflow while converting variant of type (Int64) into type (Integer)";
    QTest::newRow("null clears") << "giri" << QVariant() << "<null>";
    QTest::newRow("float from text") << "quota" << QVariant(QStringLiteral("27.125")) << "27.125";
    QTest::newRow("float with a comma") << "quota" << QVariant(QStringLiteral("27,125")) << "27.125";
    QTest::newRow("float from bad text") << "quota" << QVariant(QStringLiteral("x1"))
                                         << "'x1' is not a valid floating point value";
    QTest::newRow("time from text") << "tempo" << QVariant(QStringLiteral("0:01:05.25")) << "00:01:05.250";
    QTest::newRow("time from hours") << "tempo" << QVariant(QStringLiteral("7")) << "07:00:00.000";
    QTest::newRow("time from bad text") << "tempo" << QVariant(QStringLiteral("24:00"))
                                        << "'24:00' is not a valid time";
    QTest::newRow("time keeps only the time of day") << "tempo" << QVariant(2.5) << "12:00:00.000";
    QTest::newRow("negative time") << "tempo" << QVariant(-1.25) << "06:00:00.000";
    QTest::newRow("time from a boolean") << "tempo" << QVariant(true)
                                         << "Could not convert variant of type (Boolean) into type (Time)";
}

void TestTable::writesConvertToTheFieldType()
{
    QFETCH(QString, field);
    QFETCH(QVariant, input);
    QFETCH(QString, expected);

    Table table;
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("Anna"), 5, 0.5, QStringLiteral("A"), 1.0});
    table.edit();
    const QString error = errorOf([&] { table.setValue(field, input); });
    if (!error.isEmpty()) {
        QCOMPARE(error, expected);
        QVERIFY(!table.editModified()); // a refused value changes nothing
        return;
    }
    table.post();
    const QVariant v = table.value(field);
    QCOMPARE(v.isValid() ? Table::displayText(v, table.fields().at(table.fieldIndex(field)).type)
                         : QStringLiteral("<null>"),
             expected);
}

void TestTable::timeValuesReadBackRounded()
{
    Table table;
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("Anna"), 0, 9.5004 / 86400});
    table.first();
    QCOMPARE(table.value(QStringLiteral("tempo")).toDouble(), 9500 / 86400000.0);
    QCOMPARE(Table::roundTime(1 + 65250.4 / 86400000.0), 65250 / 86400000.0);
    QCOMPARE(Table::roundTime(-0.25), 0.25);
    QCOMPARE(Table::roundTime(0.9999999999), 0.0); // a whole day is midnight again
}

void TestTable::sortsByTheActiveOrder_data()
{
    QTest::addColumn<QString>("fieldNames");
    QTest::addColumn<bool>("descendingIndex");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("integer, nulls first, equal keys in append order")
        << "giri" << false << QStringList{"Bruno", "Anna", "dario", "anna", "carla"};
    QTest::newRow("names without regard to case")
        << "GIRI" << false << QStringList{"Bruno", "Anna", "dario", "anna", "carla"};
    QTest::newRow("strings: case-insensitive, then case-sensitive")
        << "nome" << false << QStringList{"Anna", "anna", "Bruno", "carla", "dario"};
    QTest::newRow("two fields") << "finale; nome" << false << QStringList{"Bruno", "dario", "carla", "Anna", "anna"};
    QTest::newRow("time") << "Tempo" << false << QStringList{"anna", "dario", "carla", "Anna", "Bruno"};
    QTest::newRow("descending index, nulls last")
        << "giri" << true << QStringList{"anna", "carla", "dario", "Anna", "Bruno"};
    QTest::newRow("no order: stored order") << "" << false << QStringList{"anna", "Bruno", "carla", "Anna", "dario"};
}

void TestTable::sortsByTheActiveOrder()
{
    QFETCH(QString, fieldNames);
    QFETCH(bool, descendingIndex);
    QFETCH(QStringList, names);

    Table table;
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("anna"), 3, QVariant(), QStringLiteral("B")});
    table.appendRecord({1, QStringLiteral("Bruno"), QVariant(), 0.001, QStringLiteral("A")});
    table.appendRecord({1, QStringLiteral("carla"), 3, 0.0005, QStringLiteral("a")});
    table.appendRecord({1, QStringLiteral("Anna"), 1, 0.0005, QStringLiteral("B")});
    table.appendRecord({1, QStringLiteral("dario"), 2, 0.0, QStringLiteral("A")});
    if (descendingIndex) {
        table.addIndex(IndexDef{QStringLiteral("Idx"), fieldNames, true, true});
        table.setIndexName(QStringLiteral("idx"));
    } else {
        table.setIndexFieldNames(fieldNames);
    }
    QCOMPARE(column(table, QStringLiteral("nome")), names);
}

void TestTable::equalKeysKeepAppendOrderAndPutRekeyedRowsFirst()
{
    Table table;
    defineRace(table);
    table.addIndex(IndexDef{QStringLiteral("InidiceDiscIdx"), QStringLiteral("giri"), true, true});
    table.createTable();
    table.setIndexName(QStringLiteral("InidiceDiscIdx"));
    for (const char* name : {"c1", "c2", "c3", "c4"})
        table.appendRecord({1, QString::fromLatin1(name), 0});
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c1", "c2", "c3", "c4"}));

    // A re-keyed row goes before the rows already holding its new key, whichever way the index runs:
    // with laps descending, the car that reached a lap count later comes first among equals.
    QSignalSpy moved(&table, &Table::rowMoved);
    postAt(table, QStringLiteral("c3"), QStringLiteral("giri"), 1);
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c3", "c1", "c2", "c4"}));
    QCOMPARE(moved.size(), 1);
    QCOMPARE(moved.at(0), (QVariantList{2, 0}));
    QCOMPARE(table.currentRow(), 0); // the cursor stays on the posted row
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("c3"));

    postAt(table, QStringLiteral("c1"), QStringLiteral("giri"), 1);
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c1", "c3", "c2", "c4"}));

    // Posting without a key change keeps the place.
    postAt(table, QStringLiteral("c3"), QStringLiteral("tempo"), 0.001);
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c1", "c3", "c2", "c4"}));

    // A new order sorts stably from the stored (append) order.
    table.setIndexFieldNames(QStringLiteral("giri"));
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c2", "c4", "c1", "c3"}));
    postAt(table, QStringLiteral("c2"), QStringLiteral("giri"), 1);
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c4", "c2", "c1", "c3"}));
    QCOMPARE(table.currentRow(), 1);

    // An appended row goes after the rows with its key; an inserted one before them.
    table.appendRecord({1, QStringLiteral("c5"), 1});
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c4", "c2", "c1", "c3", "c5"}));
    QCOMPARE(table.currentRow(), 4);
    table.append();
    table.setValue(QStringLiteral("nome"), QStringLiteral("c6"));
    table.setValue(QStringLiteral("giri"), 0);
    table.post();
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c4", "c6", "c2", "c1", "c3", "c5"}));
    table.last();
    table.insert();
    table.setValue(QStringLiteral("nome"), QStringLiteral("c7"));
    table.setValue(QStringLiteral("giri"), 1);
    table.post();
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c4", "c6", "c7", "c2", "c1", "c3", "c5"}));
    QCOMPARE(table.currentRow(), 2);
}

void TestTable::filterShowsMatchingRows()
{
    Table table;
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("a1"), 0, QVariant(), QStringLiteral("A"), 2.5});
    table.appendRecord({2, QStringLiteral("b1"), 0, QVariant(), QStringLiteral("B"), 2.50});
    table.appendRecord({2, QStringLiteral("b2"), 0, QVariant(), QStringLiteral("b")});
    table.appendRecord({3, QStringLiteral("c1"), 0, QVariant(), QStringLiteral("B")});
    table.appendRecord({QVariant(), QStringLiteral("n1")});

    table.setFilter(QStringLiteral("batteria = 2"));
    QCOMPARE(table.recordCount(), 5); // not applied until filtered
    table.setFiltered(true);
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"b1", "b2"}));
    table.setFilter(QStringLiteral("  BATTERIA=3 "));
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"c1"}));
    table.setFilter(QStringLiteral("finale = 'B'")); // texts compare exactly
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"b1", "c1"}));
    table.setFilter(QStringLiteral("quota = 2.5"));
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"a1", "b1"}));

    // Rows that stop matching leave the view; the cursor goes to the row in their place.
    table.setFilter(QStringLiteral("batteria = 2"));
    table.setIndexFieldNames(QStringLiteral("giri"));
    table.first();
    QSignalSpy removed(&table, &Table::rowRemoved);
    table.edit();
    table.setValue(QStringLiteral("batteria"), 4);
    table.post();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.at(0).at(0).toInt(), 0);
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"b2"}));
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("b2"));

    table.appendRecord({5, QStringLiteral("e1")});
    QCOMPARE(table.recordCount(), 1);
    table.appendRecord({2, QStringLiteral("b3"), 1});
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"b2", "b3"}));

    table.setFiltered(false);
    QCOMPARE(table.recordCount(), 7);
}

void TestTable::invalidFilterLeavesPreviousFilterInForce_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("message");

    QTest::newRow("no value") << "batteria = "
                              << "a value is expected after '='";
    QTest::newRow("unknown field") << "nope = 3"
                                   << "Field 'nope' not found";
    QTest::newRow("other operator") << "batteria > 3"
                                    << "only a comparison of one field with '=' is supported";
    QTest::newRow("not equal") << "batteria <> 3"
                               << "only a comparison of one field with '=' is supported";
    QTest::newRow("two conditions") << "batteria = 3 and giri = 1"
                                    << "is neither a number nor a quoted text";
    QTest::newRow("text for a number") << "batteria = '3'"
                                       << "needs a number";
    QTest::newRow("unquoted text") << "finale = B"
                                   << "is neither a number nor a quoted text";
    QTest::newRow("number for a text") << "finale = 3"
                                       << "needs a quoted text";
    QTest::newRow("unterminated text") << "finale = 'B"
                                       << "not terminated";
}

void TestTable::invalidFilterLeavesPreviousFilterInForce()
{
    QFETCH(QString, expression);
    QFETCH(QString, message);

    Table table(QStringLiteral("CDS_Gara"));
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("a"), 0, QVariant(), QStringLiteral("A")});
    table.appendRecord({2, QStringLiteral("b"), 0, QVariant(), QStringLiteral("B")});

    // Applied while filtered: the old filter stays.
    table.setFilter(QStringLiteral("batteria = 2"));
    table.setFiltered(true);
    QString error = errorOf([&] { table.setFilter(expression); });
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(table.filter(), QStringLiteral("batteria = 2"));
    QCOMPARE(column(table, QStringLiteral("nome")), QStringList{"b"});

    // Stored while unfiltered, refused when switched on: the table stays unfiltered.
    table.setFiltered(false);
    table.setFilter(expression);
    error = errorOf([&] { table.setFiltered(true); });
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY(!table.filtered());
    QCOMPARE(table.recordCount(), 2);
}

void TestTable::cursorWalksVisibleRows()
{
    Table table;
    defineRace(table);
    table.createTable();
    QVERIFY(table.eof() && table.bof());
    QCOMPARE(table.currentRow(), -1);
    QVERIFY(!table.value(QStringLiteral("giri")).isValid()); // null on an empty table
    table.next();
    QVERIFY(table.eof());

    for (int i = 1; i <= 3; ++i)
        table.appendRecord({i, QStringLiteral("r%1").arg(i)});
    QStringList walked;
    for (table.first(); !table.eof(); table.next())
        walked << table.value(QStringLiteral("nome")).toString();
    QCOMPARE(walked, (QStringList{"r1", "r2", "r3"}));
    QCOMPARE(table.currentRow(), 2); // eof stays on the last row
    walked.clear();
    for (table.last(); !table.bof(); table.prior())
        walked << table.value(QStringLiteral("nome")).toString();
    QCOMPARE(walked, (QStringList{"r3", "r2", "r1"}));
    table.moveTo(1);
    QCOMPARE(table.asInteger(QStringLiteral("batteria")), 2);
    QVERIFY(!table.eof() && !table.bof());
    table.moveTo(7);
    QVERIFY(table.eof());
    QCOMPARE(table.currentRow(), 2);
}

void TestTable::movingPostsModifiedRowsAndDropsUntouchedNewRows()
{
    Table table;
    defineRace(table);
    table.createTable();
    for (int i = 1; i <= 3; ++i)
        table.appendRecord({i, QStringLiteral("r%1").arg(i), 0});

    // A modified row is posted by moving away.
    table.first();
    table.edit();
    table.setValue(QStringLiteral("giri"), 7);
    QCOMPARE(table.value(QStringLiteral("giri")).toInt(), 7); // reads see the edit
    table.next();
    QCOMPARE(table.state(), Table::State::Browse);
    QCOMPARE(column(table, QStringLiteral("giri")), (QStringList{"7", "0", "0"}));
    QCOMPARE(table.currentRow(), 1);

    // An untouched edit is cancelled.
    table.edit();
    table.prior();
    QCOMPARE(table.state(), Table::State::Browse);
    QCOMPARE(table.currentRow(), 0);

    // An untouched inserted row disappears; next lands on the row that followed it.
    table.moveTo(1);
    table.insert();
    QCOMPARE(table.recordCount(), 4);
    QCOMPARE(table.currentRow(), 1);
    table.next();
    QCOMPARE(table.recordCount(), 3);
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("r2"));

    // An untouched appended row disappears; prior lands on the last row.
    table.append();
    QCOMPARE(table.currentRow(), 3);
    table.prior();
    QCOMPARE(table.recordCount(), 3);
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("r3"));

    // A touched new row is kept.
    table.append();
    table.setValue(QStringLiteral("nome"), QStringLiteral("r4"));
    table.first();
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"r1", "r2", "r3", "r4"}));

    // Cancel restores the row; an explicit post keeps even an empty new row.
    table.edit();
    table.setValue(QStringLiteral("nome"), QStringLiteral("x"));
    table.cancel();
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("r1"));
    table.append();
    table.post();
    QCOMPARE(table.recordCount(), 5);
}

void TestTable::insertAppendDeleteEmpty()
{
    Table table;
    defineRace(table);
    table.createTable();
    table.edit(); // editing an empty table starts its first row
    QCOMPARE(table.state(), Table::State::Insert);
    table.setValue(QStringLiteral("nome"), QStringLiteral("b"));
    table.post();
    table.insert();
    table.setValue(QStringLiteral("nome"), QStringLiteral("a"));
    table.post();
    table.last();
    table.append();
    table.setValue(QStringLiteral("nome"), QStringLiteral("c"));
    table.post();
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"a", "b", "c"}));
    QVERIFY(table.changedSinceSave());

    table.moveTo(1);
    table.deleteRecord();
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"a", "c"}));
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("c"));
    table.deleteRecord(); // the last row: the cursor goes to the new last
    QCOMPARE(table.value(QStringLiteral("nome")).toString(), QStringLiteral("a"));
    QVERIFY(table.eof());

    table.insert();
    table.deleteRecord(); // deleting an unposted row drops it
    QCOMPARE(table.recordCount(), 1);
    QCOMPARE(table.state(), Table::State::Browse);

    QSignalSpy reset(&table, &Table::reset);
    table.emptyTable();
    QCOMPARE(reset.size(), 1);
    QVERIFY(table.isEmpty());
    QVERIFY(table.isOpen());
}

void TestTable::closeAndDestructorWriteBackChangedTables()
{
    TestFolders folders;
    const QString path = folders.program() + QStringLiteral("sit_conc.xml");
    {
        Table builder;
        defineRace(builder);
        builder.createTable();
        builder.appendRecord({1, QStringLiteral("Anna"), 0});
        builder.saveToFile(path);
        builder.appendRecord({1, QStringLiteral("not opened from the file")});
        builder.setFileName(path);
        builder.close(); // built, not opened from the file: nothing written
    }
    Table table;
    table.setFileName(path);
    table.open();
    QCOMPARE(table.recordCount(), 1);

    // Unchanged: close writes nothing (the file may even be gone).
    const QByteArray original = readFile(path);
    QVERIFY(QFile::remove(path));
    table.close();
    QVERIFY(!QFile::exists(path));
    writeBytes(path, original);

    // A lap left in edit is posted and written back on close.
    table.open();
    table.edit();
    table.setValue(QStringLiteral("giri"), 1);
    table.close();
    QVERIFY(!table.isOpen());
    table.open();
    QCOMPARE(table.asInteger(QStringLiteral("giri")), 1);

    // A save clears the change; the destructor writes back later changes.
    table.edit();
    table.setValue(QStringLiteral("giri"), 2);
    table.saveToFile();
    QVERIFY(!table.changedSinceSave());
    {
        Table scoped;
        scoped.setFileName(path);
        scoped.open();
        scoped.appendRecord({1, QStringLiteral("Bruno"), 5});
    }
    Table check;
    check.setFileName(path);
    check.open();
    QCOMPARE(column(check, QStringLiteral("giri")), (QStringList{"2", "5"}));
}

void TestTable::loadFromFileClosesFirstAndKeepsFileName()
{
    TestFolders folders;
    const QString a = folders.program() + QStringLiteral("a.xml");
    const QString b = folders.program() + QStringLiteral("b.xml");
    Table table;
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("in a")});
    table.saveToFile(a);
    table.emptyTable();
    table.appendRecord({2, QStringLiteral("in b")});
    table.saveToFile(b);

    table.setFileName(a);
    table.loadFromFile(a); // from its own file: linked to it
    table.edit();
    table.setValue(QStringLiteral("giri"), 9);
    table.loadFromFile(b); // closing wrote the pending change back to a
    QCOMPARE(table.fileName(), a);
    QCOMPARE(column(table, QStringLiteral("nome")), QStringList{"in b"});
    table.appendRecord({3, QStringLiteral("not for a")});
    table.close(); // loaded from b, named a: not opened from its file, nothing written

    table.open();
    QCOMPARE(column(table, QStringLiteral("nome")), QStringList{"in a"});
    QCOMPARE(column(table, QStringLiteral("giri")), QStringList{"9"});

    // Loading the very file a pending change is written back to gets the written rows.
    table.edit();
    table.setValue(QStringLiteral("giri"), 10);
    table.loadFromFile(a);
    QCOMPARE(column(table, QStringLiteral("giri")), QStringList{"10"});
}

void TestTable::fileNamesResolveWithoutCase()
{
    TestFolders folders;
    writeBytes(folders.program() + QStringLiteral("batterie.xml"), QByteArray("old"));
    Table table;
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("Anna")});
    table.saveToFile(folders.program() + QStringLiteral("Batterie.xml"));
    QCOMPARE(QDir(folders.program()).entryList(QDir::Files), QStringList{"batterie.xml"});
    QVERIFY(readFile(folders.program() + QStringLiteral("batterie.xml")).startsWith("<?xml"));

    Table reader;
    reader.setFileName(folders.program() + QStringLiteral("BATTERIE.XML"));
    reader.open();
    QCOMPARE(column(reader, QStringLiteral("nome")), QStringList{"Anna"});
}

void TestTable::indexDefinitionsSurviveLoading()
{
    TestFolders folders;
    const QString path = folders.program() + QStringLiteral("Finali.xml");
    Table table;
    defineRace(table);
    table.addIndex(IndexDef{QStringLiteral("InidiceDiscIdx"), QStringLiteral("giri"), true, true});
    table.createTable();
    table.appendRecord({1, QStringLiteral("slow"), 1});
    table.appendRecord({1, QStringLiteral("fast"), 9});
    table.saveToFile(path);
    QVERIFY(!readFile(path).contains("InidiceDiscIdx"));
    table.close();

    table.setFileName(path);
    table.open();
    QCOMPARE(table.indexes().size(), 1);
    table.setIndexName(QStringLiteral("InidiceDiscIdx"));
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"fast", "slow"}));
    table.close();
    table.open(); // the selected order applies again on opening
    QCOMPARE(column(table, QStringLiteral("nome")), (QStringList{"fast", "slow"}));
}

void TestTable::textLongerThanItsWidthIsKept()
{
    TestFolders folders;
    const QString path = folders.program() + QStringLiteral("lista_conc.xml");
    writeBytes(path, R"(<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>)"
                     R"(<FIELD attrname="concorrente" fieldtype="string" WIDTH="5"/></FIELDS><PARAMS/></METADATA>)"
                     R"(<ROWDATA><ROW concorrente="Giovanni"/><ROW concorrente="Ugo"/></ROWDATA></DATAPACKET>)");
    Table table;
    table.loadFromFile(path);
    QCOMPARE(column(table, QStringLiteral("concorrente")), (QStringList{"Giovanni", "Ugo"}));
    QCOMPARE(table.fields().at(0).size, 8);
}

void TestTable::brokenFilesLeaveTableAndFileUntouched_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");

    const QByteArray head = R"(<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>)"
                            R"(<FIELD attrname="nome" fieldtype="string" WIDTH="30"/><FIELD attrname="giri" )"
                            R"(fieldtype="i4"/></FIELDS><PARAMS/></METADATA><ROWDATA>)";
    const QByteArray tail = "</ROWDATA></DATAPACKET>";
    const QByteArray good = head + R"(<ROW nome="x" giri="1"/>)" + tail;

    QTest::newRow("empty file") << QByteArray() << "Invalid datapacket";
    QTest::newRow("truncated") << good.left(head.size() + 10) << "Premature end of document";
    QTest::newRow("not XML") << QByteArray("nome;giri\nAnna;3\n") << "Invalid datapacket";
    QTest::newRow("not a datapacket") << QByteArray(R"(<?xml version="1.0"?><settings/>)") << "not <DATAPACKET>";
    QTest::newRow("bad integer value") << head + R"(<ROW nome="x" giri="1O"/>)" + tail
                                       << "'1O' is not a valid integer value (field 'giri', row 1)";
    QTest::newRow("unknown field type")
        << QByteArray(R"(<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>)"
                      R"(<FIELD attrname="data" fieldtype="nested"/></FIELDS><PARAMS/></METADATA>)"
                      R"(<ROWDATA></ROWDATA></DATAPACKET>)")
        << "field 'data' has the unsupported type 'nested'";
    QTest::newRow("bad date value") << QByteArray(
                                           R"(<?xml version="1.0" standalone="yes"?>  <DATAPACKET><METADATA>)"
                                           R"(<FIELDS><FIELD attrname="data" fieldtype="date"/></FIELDS>)"
                                           R"(</METADATA><ROWDATA><ROW data="20241301"/></ROWDATA></DATAPACKET>)")
                                    << "'20241301' is not a valid date value (field 'data', row 1)";
    QTest::newRow("no fields") << QByteArray(R"(<DATAPACKET Version="2.0"><ROWDATA></ROWDATA></DATAPACKET>)")
                               << "ROWDATA before the field definitions";
    QTest::newRow("field without a type")
        << QByteArray(R"(<DATAPACKET><METADATA><FIELDS><FIELD attrname="a"/></FIELDS></METADATA></DATAPACKET>)")
        << "field 'a' has no fieldtype";
    QTest::newRow("text after the datapacket") << good + "<DATAPACKET/>"
                                               << "Invalid datapacket";
}

void TestTable::brokenFilesLeaveTableAndFileUntouched()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);

    TestFolders folders;
    const QString good = folders.program() + QStringLiteral("good.xml");
    const QString bad = folders.program() + QStringLiteral("sit_conc.xml");
    {
        Table builder;
        defineRace(builder);
        builder.createTable();
        builder.appendRecord({1, QStringLiteral("Anna"), 3});
        builder.appendRecord({1, QStringLiteral("Bruno"), 4});
        builder.saveToFile(good);
    }
    writeBytes(bad, content);

    // An open table keeps its rows, its state and its cursor.
    {
        Table table;
        table.setFileName(bad);
        table.loadFromFile(good);
        table.last();
        table.edit();
        table.setValue(QStringLiteral("giri"), 5);
        const QString error = errorOf([&] { table.loadFromFile(bad); });
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("sit_conc.xml")), qPrintable(error));
        QVERIFY(table.isOpen());
        QCOMPARE(table.state(), Table::State::Edit);
        QCOMPARE(table.currentRow(), 1);
        table.post();
        QCOMPARE(column(table, QStringLiteral("giri")), (QStringList{"3", "5"}));
    }
    // A closed table stays closed, and closing or destroying it never writes the file.
    {
        Table table;
        defineRace(table);
        table.setFileName(bad);
        QVERIFY(errorOf([&] { table.open(); }).contains(message));
        QVERIFY(!table.isOpen());
        QCOMPARE(table.fieldCount(), 6);
        table.close();
    }
    QCOMPARE(readFile(bad), content);
}

void TestTable::failedSaveKeepsTheOldFile()
{
    TestFolders folders;
    const QString path = folders.program() + QStringLiteral("lista_conc.xml");
    Table table;
    defineRace(table);
    table.createTable();
    table.appendRecord({1, QStringLiteral("Anna")});
    table.saveToFile(path);
    const QByteArray before = readFile(path);

    QVERIFY(errorOf([&] {
                table.saveToFile(folders.program() + QStringLiteral("missing/x.xml"));
            }).startsWith(QStringLiteral("Cannot create file")));

#ifdef Q_OS_LINUX
    // A full disk: the file size limit makes the write fail, even for root.
    for (int i = 0; i < 200; ++i)
        table.appendRecord({i, QStringLiteral("competitor with a long name %1").arg(i), i});
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const QString error = errorOf([&] { table.saveToFile(path); });
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY2(error.startsWith(QStringLiteral("Cannot write file")), qPrintable(QStringLiteral("[") + error + "]"));
    QCOMPARE(readFile(path), before);
    QCOMPARE(QDir(folders.program()).entryList(QDir::Files), QStringList{"lista_conc.xml"}); // no leftovers
    QVERIFY(table.changedSinceSave());
#endif
}

QTEST_GUILESS_MAIN(TestTable)
#include "test_table.moc"
