#include "tables/datapacket.h"
#include "tables/layouts.h"
#include "tables/table.h"
#include "tests/support/errors.h"
#include "tests/support/testfolders.h"

#include <QDate>
#include <QFile>
#include <QtTest>

namespace {

QString typeLetter(FieldType type)
{
    switch (type) {
    case FieldType::Integer:
        return QStringLiteral("I");
    case FieldType::Float:
        return QStringLiteral("F");
    case FieldType::Time:
        return QStringLiteral("T");
    case FieldType::String:
        break;
    }
    return QStringLiteral("S");
}

// "name:I", "name:S30", ... for a readable comparison of layouts.
QStringList describeFields(const QList<FieldDef>& fields)
{
    QStringList out;
    for (const FieldDef& f : fields) {
        if (f.keepsFileText())
            out << f.name + QLatin1Char(':') + f.storage.type; // "nato:date"
        else
            out << f.name + QLatin1Char(':') + typeLetter(f.type) +
                       (f.type == FieldType::String ? QString::number(f.size) : QString());
    }
    return out;
}

// One "a|b|c" line per row; null is <null>, times read as hh:mm:ss.zzz.
QStringList describeRows(const QList<FieldDef>& fields, const QList<QVariantList>& rows)
{
    QStringList out;
    for (const QVariantList& row : rows) {
        QStringList cells;
        for (qsizetype i = 0; i < fields.size(); ++i) {
            const QVariant v = i < row.size() ? row[i] : QVariant();
            cells << (v.isValid() ? Table::displayText(v, fields[i].type) : QStringLiteral("<null>"));
        }
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QStringList competitorFields()
{
    return {QStringLiteral("concorrente:S30"), QStringLiteral("frequenza:F"), QStringLiteral("gruppo:S30")};
}

} // namespace

class TestDatapacket : public QObject
{
    Q_OBJECT

private slots:
    void writesTheEngineSingleLineForm();
    void writesAnEmptyTable();
    void saveLoadSaveIsByteIdentical();
    void readsLegacyFiles_data();
    void readsLegacyFiles();
    void readsUtf8WithByteOrderMark();
    void keepsOtherColumnTypesThroughASave();
    void competitionTableTakesOtherColumns();
    void keepsTypeValuesInRange_data();
    void keepsTypeValuesInRange();
    void quickReadMatchesFullRead_data();
    void quickReadMatchesFullRead();
};

void TestDatapacket::writesTheEngineSingleLineForm()
{
    const QList<FieldDef> fields = {
        {QStringLiteral("n. batteria"), FieldType::Integer, 0},
        {QStringLiteral("nome conc."), FieldType::String, 30},
        {QStringLiteral("frequenza"), FieldType::Float, 0},
        {QStringLiteral("tempo s.giro ttime"), FieldType::Time, 0},
        {QStringLiteral("tempo-tot."), FieldType::String, 8},
        {QStringLiteral("Length (cm)"), FieldType::Float, 0},
        {QStringLiteral("note"), FieldType::String, 0},
    };
    const QList<QVariantList> rows = {
        {1, QStringLiteral("Anna"), 27.1, 65.25 / 86400, QStringLiteral("1.5"), 8.8, // "%.16g" of 8.8
         QStringLiteral("a<b>&\"c'd\\ \r\n\tx")},
        {-7, QString(""), QVariant(), 9.5 / 86400, QVariant(), 2777815.0, QStringLiteral("Niccolò")},
    };
    const QByteArray expected =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>)"
        R"(<FIELD fieldname="n. batteria" attrname="n._batteria" fieldtype="i4"/>)"
        R"(<FIELD fieldname="nome conc." attrname="nome_conc." fieldtype="string" WIDTH="30"/>)"
        R"(<FIELD attrname="frequenza" fieldtype="r8"/>)"
        R"(<FIELD fieldname="tempo s.giro ttime" attrname="tempo_s.giro_ttime" fieldtype="time"/>)"
        R"(<FIELD attrname="tempo-tot." fieldtype="string" WIDTH="8"/>)"
        R"x(<FIELD fieldname="Length (cm)" attrname="Length__cm_" fieldtype="r8"/>)x"
        R"(<FIELD attrname="note" fieldtype="string" WIDTH="20"/>)"
        R"(</FIELDS><PARAMS/></METADATA><ROWDATA>)"
        R"(<ROW n._batteria="1" nome_conc.="Anna" frequenza="27.1" tempo_s.giro_ttime="00:01:05250" tempo-tot.="1.5" )"
        R"(Length__cm_="8.800000000000001" note="a&lt;b&gt;&amp;&quot;c&apos;d&#092; &#013;&#010;&#009;x"/>)"
        R"(<ROW n._batteria="-7" nome_conc.="" tempo_s.giro_ttime="00:00:09500" Length__cm_="2777815" )"
        "note=\"Niccol\xC3\xB2\"/>"
        R"(</ROWDATA></DATAPACKET>)";
    QCOMPARE(writeDatapacket(fields, rows), expected);
}

void TestDatapacket::writesAnEmptyTable()
{
    const QByteArray out = writeDatapacket({{QStringLiteral("giri"), FieldType::Integer, 0}}, {});
    QVERIFY(out.endsWith(R"(<PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>)"));
    QVERIFY(!out.startsWith("\xEF\xBB\xBF"));
    QVERIFY(!out.contains('\n'));
}

void TestDatapacket::saveLoadSaveIsByteIdentical()
{
    TestFolders folders;
    Table table(QStringLiteral("CDS"));
    table.addField(QStringLiteral("nome conc."), FieldType::String, 30);
    table.addField(QStringLiteral("giri"), FieldType::Integer);
    table.addField(QStringLiteral("frequenza"), FieldType::Float);
    table.addField(QStringLiteral("tempo migl. ttime"), FieldType::Time);
    table.createTable();
    table.appendRecord({QStringLiteral("  Anna <&> \"'\\ \t\r\n  "), 12, 0.1 + 0.2, 0.000123456789});
    table.appendRecord({QStringLiteral("Niccolò € 😀"), -2147483647 - 1, 1e-300, 0.99999});
    table.appendRecord({QString(""), QVariant(), QVariant(), QVariant()});
    table.appendRecord({});

    const QString first = folders.program() + QStringLiteral("first.xml");
    const QString second = folders.program() + QStringLiteral("second.xml");
    table.saveToFile(first);
    Table reloaded;
    reloaded.loadFromFile(first);
    QCOMPARE(reloaded.recordCount(), 4);
    reloaded.saveToFile(second);
    QCOMPARE(readFile(second), readFile(first));

    reloaded.first();
    QCOMPARE(reloaded.value(QStringLiteral("nome conc.")).toString(), QStringLiteral("  Anna <&> \"'\\ \t\r\n  "));
    reloaded.next();
    QCOMPARE(reloaded.value(QStringLiteral("nome conc.")).toString(), QStringLiteral("Niccolò € 😀"));
    QCOMPARE(reloaded.asInteger(QStringLiteral("giri")), -2147483647 - 1);
    reloaded.next();
    QCOMPARE(reloaded.value(QStringLiteral("nome conc.")), QVariant(QString("")));
    QVERIFY(!reloaded.value(QStringLiteral("giri")).isValid());
    reloaded.next();
    QVERIFY(!reloaded.value(QStringLiteral("nome conc.")).isValid());
}

void TestDatapacket::readsLegacyFiles_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("Windows-1252 without encoding")
        << "legacy_cp1252.xml" << competitorFields()
        << QStringList{QStringLiteral("Niccolò Berè|27.1|Junior"),
                       QStringLiteral("André €uro \u201CTest\u201D|40.665|Open"),
                       QStringLiteral("|<null>|A&B <x> \r\n")};
    QTest::newRow("declared UTF-8") << "legacy_utf8.xml" << competitorFields()
                                    << QStringList{QStringLiteral("Niccolò Berè|27.1|Junior")};
    QTest::newRow("declared UTF-8 but not valid")
        << "legacy_utf8_invalid.xml" << competitorFields() << QStringList{QStringLiteral("Niccolò Berè|27.1|Junior")};
    QTest::newRow("changed field names") << "legacy_heats.xml"
                                         << QStringList{QStringLiteral("n. batteria:I"),
                                                        QStringLiteral("concorrente:S30"),
                                                        QStringLiteral("frequenza:F"), QStringLiteral("gruppo:S30")}
                                         << QStringList{QStringLiteral("1|Anna|27.145|Junior"),
                                                        QStringLiteral("1|Bruno|40.665|Open"),
                                                        QStringLiteral("2|Carla|2777815|Open")};
    QTest::newRow("time values")
        << "legacy_times.xml" << QStringList{QStringLiteral("batteria:I"),           QStringLiteral("num:I"),
                                             QStringLiteral("nome conc.:S30"),       QStringLiteral("giri:I"),
                                             QStringLiteral("tempo s.giro ttime:T"), QStringLiteral("tempo s.giro:S8"),
                                             QStringLiteral("tempo tot. ttime:T"),   QStringLiteral("tempo tot.:S8"),
                                             QStringLiteral("tempo migl. ttime:T"),  QStringLiteral("tempo migl.:S8")}
        << QStringList{QStringLiteral("1|1|Anna|12|00:00:09.500|0.9.500|00:02:05.250|2.5|00:00:09.125|0.9.125"),
                       QStringLiteral("1|2|Bruno|0|12:34:56.000|<null>|<null>|<null>|00:00:00.000|<null>"),
                       QStringLiteral("2|1|Carla|-1|01:02:30.000|<null>|<null>|<null>|12:34:56.789|<null>")};
    QTest::newRow("change log") << "legacy_changelog.xml" << competitorFields()
                                << QStringList{QStringLiteral("Anna|27.1|Junior"),
                                               QStringLiteral("Dario|27.195|Junior"),
                                               QStringLiteral("Bruno Rossi|40.665|Open"),
                                               QStringLiteral("Franco B.|35.02|Open")};
    QTest::newRow("pretty-printed") << "legacy_pretty.xml"
                                    << QStringList{QStringLiteral("nr.:I"), QStringLiteral("finale:S20"),
                                                   QStringLiteral("nome con.:S30"),
                                                   QStringLiteral("tempo s.giro time:T"), QStringLiteral("quota:F")}
                                    << QStringList{QStringLiteral("2|B|Dario|<null>|<null>"),
                                                   QStringLiteral("1|A|Anna è|00:00:09.500|0.5")};
    QTest::newRow("stray end tag, no PARAMS, empty ROWDATA")
        << "legacy_quirks.xml" << competitorFields() << QStringList{};
    QTest::newRow("other column types")
        << "other_types.xml" << QStringList{"id:I",         "concorrente:S30",   "frequenza:F",    "gruppo:S30",
                                            "nato il:date", "iscritto:dateTime", "pagato:boolean", "categoria:I",
                                            "tessera:i8",   "quota:F",           "note:bin.hex",   "foto:bin.hex"}
        << QStringList{"1|Anna|27.1|Junior|20080229|20240601T09:30:05250|TRUE|-3|9007199254740993|12.5|"
                       "Prima riga\nseconda \"riga\"|iVBORw0KGgo=",
                       "2|Bruno|40.665|Open|19991231|20240601|FALSE|<null>|<null>|<null>||<null>"};
    // The new version of a modified row leaves out its unchanged memo.
    QTest::newRow("change log with a memo")
        << "legacy_memo_changelog.xml" << QStringList{"concorrente:S30", "note:bin.hex", "nato:date"}
        << QStringList{"Anna B.|resta|20080301", "Carla|nuova|<null>"};
}

void TestDatapacket::readsLegacyFiles()
{
    QFETCH(QString, fixture);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, rows);

    const QByteArray bytes = readFile(TestFolders::fixture(fixture));
    QVERIFY(!bytes.isEmpty());
    const Datapacket packet = readDatapacket(bytes);
    QCOMPARE(describeFields(packet.fields), fields);
    QCOMPARE(describeRows(packet.fields, packet.rows), rows);

    // The same through a table opened from the file, and back through our writer.
    TestFolders folders;
    QVERIFY(QFile::copy(TestFolders::fixture(fixture), folders.program() + fixture));
    Table table;
    table.setFileName(folders.program() + fixture);
    table.open();
    QCOMPARE(describeFields(table.fields()), fields);
    QCOMPARE(table.recordCount(), rows.size());
    const Datapacket again = readDatapacket(writeDatapacket(packet));
    QCOMPARE(describeRows(again.fields, again.rows), rows);
}

void TestDatapacket::readsUtf8WithByteOrderMark()
{
    QByteArray bytes = readFile(TestFolders::fixture(QStringLiteral("legacy_utf8.xml")));
    bytes.replace(R"( encoding="UTF-8")", "");
    const Datapacket packet = readDatapacket("\xEF\xBB\xBF" + bytes);
    QCOMPARE(describeRows(packet.fields, packet.rows), QStringList{QStringLiteral("Niccolò Berè|27.1|Junior")});
}

// Columns of types the engine does not compute with, their attributes and the file's PARAMS come back as they were.
void TestDatapacket::keepsOtherColumnTypesThroughASave()
{
    TestFolders folders;
    const QString path = folders.program() + QStringLiteral("other_types.xml");
    QVERIFY(QFile::copy(TestFolders::fixture(QStringLiteral("other_types.xml")), path));
    Table table(QStringLiteral("CDS"));
    table.setFileName(path);
    table.open();
    const QString saved = folders.program() + QStringLiteral("saved.xml");
    table.saveToFile(saved);
    QCOMPARE(readFile(saved), readFile(TestFolders::fixture(QStringLiteral("other_types.xml"))));

    // Values typed in are checked against the column's own type and stored in the file's form.
    table.first();
    table.edit();
    QCOMPARE(errorOf([&] { table.setValue(QStringLiteral("nato il"), QStringLiteral("20230229")); }),
             QStringLiteral("'20230229' is not a valid date value"));
    QCOMPARE(errorOf([&] { table.setValue(QStringLiteral("tessera"), 1.5); }),
             QStringLiteral("'1.5' is not a valid i8 value"));
    table.setValue(QStringLiteral("nato il"), QDate(2008, 3, 1));
    table.setValue(QStringLiteral("iscritto"), QDateTime(QDate(2024, 6, 2), QTime(0, 0, 9, 500)));
    table.setValue(QStringLiteral("pagato"), false);
    table.setValue(QStringLiteral("tessera"), Q_INT64_C(-9223372036854775807));
    table.setValue(QStringLiteral("foto"), QByteArray("\x89PNG"));
    table.setValue(QStringLiteral("note"), QStringLiteral(" due\nrighe "));
    table.post();
    table.saveToFile(saved);

    Table reloaded;
    reloaded.loadFromFile(saved);
    QVariantList first;
    for (int f = 0; f < reloaded.fieldCount(); ++f)
        first << reloaded.valueAt(0, f);
    QCOMPARE(describeRows(reloaded.fields(), {first}),
             QStringList{"1|Anna|27.1|Junior|20080301|20240602T00:00:09500|FALSE|-3|-9223372036854775807|12.5|"
                         " due\nrighe |iVBORw=="});
    const QByteArray bytes = readFile(saved);
    QVERIFY2(bytes.contains(R"(<PARAMS DEFAULT_ORDER="2" PRIMARY_KEY="1" LCID="1040"/>)"), bytes.constData());
    QVERIFY2(bytes.contains(R"(<FIELD fieldname="nato il" attrname="nato_il" fieldtype="date" required="true"/>)"),
             bytes.constData());

    // A table made anew has no PARAMS of a file.
    reloaded.createTable();
    reloaded.saveToFile(saved);
    QVERIFY(readFile(saved).contains("<PARAMS/>"));
}

// A competition table opens a file with more columns than its own; a file that lacks one of its own is refused
// where the field is used.
void TestDatapacket::competitionTableTakesOtherColumns()
{
    TestFolders folders;
    const QString path = folders.program() + layouts::finalsFile;
    Table layout;
    layouts::defineFinals(layout);
    QList<FieldDef> fields = layout.fields();
    FieldDef licence{QStringLiteral("scadenza"), FieldType::String, 8};
    licence.storage.type = QStringLiteral("date");
    fields.insert(3, licence);
    QVERIFY(licence.keepsFileText());
    QList<QVariant> row{1, QStringLiteral("A"), QStringLiteral("Anna"), QStringLiteral("20251231"), 12};
    row.resize(fields.size());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(writeDatapacket(fields, {row}));
    file.close();

    Table finals(QStringLiteral("CDS_Finali"));
    layouts::openFinals(finals, path);
    QCOMPARE(finals.recordCount(), 1);
    QCOMPARE(finals.asInteger(layouts::nGiri), 12);
    QCOMPARE(finals.asString(QStringLiteral("scadenza")), QStringLiteral("20251231"));
    finals.close();

    fields.removeIf([](const FieldDef& f) { return f.name == layouts::nGiri; });
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(writeDatapacket(fields, {}));
    file.close();
    layouts::openFinals(finals, path);
    const QString missing = QStringLiteral("CDS_Finali: Field 'n.giri' not found");
    QCOMPARE(errorOf([&] { finals.asInteger(layouts::nGiri); }), missing);
    QCOMPARE(errorOf([&] { finals.setIndexName(layouts::finalsIndexName); }), missing);
}

void TestDatapacket::keepsTypeValuesInRange_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expected"); // empty: refused

    QTest::newRow("i4 min") << QByteArray("i4") << QByteArray("-2147483648") << "-2147483648";
    QTest::newRow("i8 beyond 32 bits") << QByteArray("i8") << QByteArray("2147483648") << "2147483648";
    QTest::newRow("i8 beyond 64 bits") << QByteArray("i8") << QByteArray("9223372036854775808") << "";
    QTest::newRow("ui4 beyond 32 bits") << QByteArray("ui4") << QByteArray("4294967296") << "";
    QTest::newRow("i2 min") << QByteArray("i2") << QByteArray("-32768") << "-32768";
    QTest::newRow("date") << QByteArray("date") << QByteArray(" 20240229 ") << "20240229";
    QTest::newRow("date not in the calendar") << QByteArray("date") << QByteArray("20230229") << "";
    QTest::newRow("date with a dash") << QByteArray("date") << QByteArray("2024-02-29") << "";
    QTest::newRow("empty date is null") << QByteArray("Date") << QByteArray("") << "<null>";
    QTest::newRow("dateTime with time") << QByteArray("DATETIME") << QByteArray("20240229T23:59:59999")
                                        << "20240229T23:59:59999";
    QTest::newRow("dateTime bad time") << QByteArray("dateTime") << QByteArray("20240229T24:00:00000") << "";
    QTest::newRow("boolean") << QByteArray("boolean") << QByteArray("FALSE") << "FALSE";
    QTest::newRow("blob not base64") << QByteArray(R"(bin.hex" SUBTYPE="Binary)") << QByteArray("a*b") << "";
    QTest::newRow("memo keeps blanks") << QByteArray(R"(bin.hex" SUBTYPE="Text)") << QByteArray(" a&lt;b ") << " a<b ";
    QTest::newRow("integer with decimals") << QByteArray("i4") << QByteArray("1.5") << "";
    QTest::newRow("empty integer is null") << QByteArray("i4") << QByteArray("") << "<null>";
    QTest::newRow("float exponent") << QByteArray("r8") << QByteArray("1e+20") << "1e+20";
    QTest::newRow("float comma") << QByteArray("r8") << QByteArray("27,1") << "";
    QTest::newRow("float nan") << QByteArray("r8") << QByteArray("nan") << "";
    QTest::newRow("time 24 hours") << QByteArray("time") << QByteArray("24:00:00000") << "";
    QTest::newRow("time long run") << QByteArray("time") << QByteArray("00:00:095001") << "";
    QTest::newRow("time 60 seconds") << QByteArray("time") << QByteArray("00:00:60000") << "";
}

void TestDatapacket::keepsTypeValuesInRange()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);

    const QByteArray bytes = R"(<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>)"
                             R"(<FIELD attrname="v" fieldtype=")" +
                             type + R"("/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW v=")" + value +
                             R"("/></ROWDATA></DATAPACKET>)";
    if (expected.isEmpty()) {
        try {
            readDatapacket(bytes);
            QFAIL("the value was accepted");
        } catch (const EngineError& e) {
            QVERIFY2(e.message().contains(QString::fromLatin1(value).trimmed()), qPrintable(e.message()));
        }
        return;
    }
    const Datapacket packet = readDatapacket(bytes);
    QCOMPARE(describeRows(packet.fields, packet.rows), QStringList{expected});
}

// readDatapacket() reads the common files straight from their bytes and leaves the rest to QXmlStreamReader:
// both give the same content, or the same error, for every file.
void TestDatapacket::quickReadMatchesFullRead_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QStringList fixtures{"legacy_cp1252.xml",        "legacy_utf8.xml",   "legacy_utf8_invalid.xml",
                               "legacy_heats.xml",         "legacy_times.xml",  "legacy_changelog.xml",
                               "legacy_pretty.xml",        "legacy_quirks.xml", "other_types.xml",
                               "legacy_memo_changelog.xml"};
    for (const QString& fixture : fixtures)
        QTest::newRow(qPrintable(fixture)) << readFile(TestFolders::fixture(fixture));

    const QByteArray head = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>  <DATAPACKET Version="2.0">)"
                            R"(<METADATA><FIELDS><FIELD attrname="nome" fieldtype="string" WIDTH="30"/>)"
                            R"(<FIELD attrname="giri" fieldtype="i4"/></FIELDS><PARAMS/></METADATA><ROWDATA>)";
    const QByteArray tail = "</ROWDATA></DATAPACKET>";
    auto row = [&](const QByteArray& attributes) { return head + "<ROW " + attributes + "/>" + tail; };
    QTest::newRow("references") << row(R"(nome="&#x41;&#66;&lt;&amp;&#013;&#010;&#009;" giri="&#49;")");
    QTest::newRow("literal line break in a value") << row("nome=\"a\r\nb\" giri=\"1\"");
    QTest::newRow("literal tab in a value") << row("nome=\"a\tb\"");
    QTest::newRow("single quotes, blanks around =") << row("nome = 'it\"s' giri\t=\t'2'");
    QTest::newRow("attribute twice") << row(R"(nome="a" nome="b")");
    QTest::newRow("unknown attribute twice") << row(R"(x="a" x="b")");
    QTest::newRow("no blank between attributes") << row(R"(nome="a"giri="1")");
    QTest::newRow("undeclared entity") << row(R"(nome="&eacute;")");
    QTest::newRow("reference to a control character") << row(R"(nome="&#1;")");
    QTest::newRow("raw control character") << row("nome=\"a\x01\"");
    QTest::newRow("'<' in a value") << row(R"(nome="a<b")");
    QTest::newRow("namespace prefix") << row(R"(x:nome="a")");
    QTest::newRow("namespace declaration") << row(R"(xmlns:x="urn:x" x:nome="a")");
    QTest::newRow("name starting with a digit") << row(R"(1nome="a")");
    QTest::newRow("RowState in lower case") << row(R"(rowstate="2" nome="gone")");
    QTest::newRow("bad RowState") << row(R"(RowState="x" nome="a")");
    QTest::newRow("bad number") << row(R"(giri="1O")");
    QTest::newRow("number with blanks") << row(R"(giri=" 12 ")");
    QTest::newRow("C1 control") << row("nome=\"\xC2\x85\"");
    QTest::newRow("non-character") << row("nome=\"\xEF\xBF\xBE\"");
    QTest::newRow("ROW with an end tag") << head + R"(<ROW nome="a"></ROW><ROW nome="b" > </ROW >)" + tail;
    QTest::newRow("text between rows") << head + R"(<ROW nome="a"/>x<ROW nome="b"/>)" + tail;
    QTest::newRow("comment between rows") << head + R"(<ROW nome="a"/><!-- c --><ROW nome="b"/>)" + tail;
    QTest::newRow("unknown element") << head + R"(<ROW nome="a"/><X/>)" + tail;
    QTest::newRow("lower-case ROW") << head + R"(<row nome="a"/>)" + tail;
    QTest::newRow("end tag missing") << head + R"(<ROW nome="a">)" + tail;
    QTest::newRow("truncated") << row(R"(nome="a")").chopped(30);
    QTest::newRow("text after the end") << row(R"(nome="a")") + "x";
    QTest::newRow("comment after the end") << row(R"(nome="a")") + "<!-- c -->";
    QTest::newRow("DOCTYPE") << QByteArray(R"(<!DOCTYPE DATAPACKET [<!ENTITY e "E">]>)") + row(R"(nome="&e;")").mid(59);
    QTest::newRow("other declaration") << QByteArray(R"(<?xml version="1.0" encoding="ISO-8859-1"?>)") +
                                              row("nome=\"\xE8\"").mid(59);
    QTest::newRow("no declaration") << row(R"(nome="a")").mid(59);
    QTest::newRow("no fields") << QByteArray(R"(<DATAPACKET><METADATA><FIELDS/></METADATA></DATAPACKET>)");
    QTest::newRow("empty") << QByteArray();
}

void TestDatapacket::quickReadMatchesFullRead()
{
    QFETCH(QByteArray, bytes);
    auto outcome = [](Datapacket (*read)(const QByteArray&), const QByteArray& data) {
        try {
            const Datapacket packet = read(data);
            QStringList params;
            for (const auto& [name, value] : packet.params)
                params << name + QLatin1Char('=') + value;
            return QStringList{describeFields(packet.fields).join(u' '),
                               describeRows(packet.fields, packet.rows).join(u'/'), params.join(u' ')};
        } catch (const EngineError& e) {
            return QStringList{e.message()};
        }
    };
    QCOMPARE(outcome(readDatapacket, bytes), outcome(readDatapacketFully, bytes));
}

QTEST_GUILESS_MAIN(TestDatapacket)
#include "test_datapacket.moc"
