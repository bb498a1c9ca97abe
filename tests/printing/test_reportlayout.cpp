#include "printing/reportlayout.h"
#include "tables/error.h"

#include <QBuffer>
#include <QTest>

// The report project file: what it holds, its defaults, and faulty files.
class TestReportLayout : public QObject
{
    Q_OBJECT
private slots:
    void fullProject();
    void defaults();
    void faultyProjects_data();
    void faultyProjects();
};

namespace {

ReportLayout parse(const QByteArray& xml)
{
    QBuffer buffer;
    buffer.setData(xml);
    buffer.open(QIODevice::ReadOnly);
    return ReportLayout::parse(buffer, QStringLiteral("test.rav"));
}

} // namespace

void TestReportLayout::fullProject()
{
    const ReportLayout l = parse(R"(<?xml version="1.0" encoding="UTF-8"?>
<report version="1" connection="RvDataSetConnection1">
  <title>Risultati finali</title>
  <page size="a5" orientation="landscape" margins="10 12 14 16"/>
  <font family="DejaVu Serif" size="11.5"/>
  <header left="{title}" center="Pista" right="{date}"/>
  <footer right="{page}/{pages}"/>
  <group field="finale" caption="Finale %1" order="descending"/>
  <columns>
    <column counter="true" caption="N." width="5" align="right"/>
    <column field="nome con." caption="Concorrente" width="40"/>
    <column field="FINALE" caption="Fin." align="center"/>
  </columns>
  <empty>Nessuna finale</empty>
</report>)");
    QCOMPARE(l.connection, QStringLiteral("RvDataSetConnection1"));
    QCOMPARE(l.title, QStringLiteral("Risultati finali"));
    QCOMPARE(l.page.pageSize().id(), QPageSize::A5);
    QCOMPARE(l.page.orientation(), QPageLayout::Landscape);
    QCOMPARE(l.page.margins(QPageLayout::Millimeter), QMarginsF(10, 12, 14, 16));
    QCOMPARE(l.fontFamily, QStringLiteral("DejaVu Serif"));
    QCOMPARE(l.fontSize, 11.5);
    QCOMPARE(l.header.center, QStringLiteral("Pista"));
    QCOMPARE(l.footer.left, QString()); // a band given replaces the default band whole
    QCOMPARE(l.footer.right, QStringLiteral("{page}/{pages}"));
    QCOMPARE(l.group.field, QStringLiteral("finale"));
    QCOMPARE(l.group.caption, QStringLiteral("Finale %1"));
    QCOMPARE(l.group.order, ReportGroup::Order::Descending);
    QCOMPARE(l.columns.size(), 3);
    QCOMPARE(l.columns[0].kind, ReportColumn::Kind::Counter);
    QCOMPARE(l.columns[0].alignment, Qt::Alignment(Qt::AlignRight));
    QCOMPARE(l.columns[1].field, QStringLiteral("nome con."));
    QCOMPARE(l.columns[1].width, 40.0);
    QCOMPARE(l.columns[2].width, 1.0);
    QCOMPARE(l.columns[2].alignment, Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(l.emptyText, QStringLiteral("Nessuna finale"));
    // The group field first; a field named twice (in any case) and the counter are not read twice.
    QCOMPARE(l.fieldNames(), (QStringList{"finale", "nome con."}));
}

void TestReportLayout::defaults()
{
    const ReportLayout l = parse(R"(<report connection="C"><columns><column field="a"/></columns></report>)");
    QCOMPARE(l.page.pageSize().id(), QPageSize::A4);
    QCOMPARE(l.page.orientation(), QPageLayout::Portrait);
    QCOMPARE(l.page.margins(QPageLayout::Millimeter), QMarginsF(15, 15, 15, 15));
    QCOMPARE(l.header.left, QStringLiteral("{title}"));
    QCOMPARE(l.header.right, QStringLiteral("{date}"));
    QCOMPARE(l.footer.right, QStringLiteral("Pagina {page} di {pages}"));
    QVERIFY(!l.group.isSet());
    QCOMPARE(l.columns[0].alignment, Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(l.fontSize, 10.0);
}

void TestReportLayout::faultyProjects_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("message"); // after "Report project "test.rav", "

    const QByteArray column = R"(<columns><column field="a"/></columns>)";
    QTest::newRow("not XML") << QByteArray("Batteria 1") << "line 1: Start tag expected.";
    QTest::newRow("empty file") << QByteArray() << "line 1: Premature end of document.";
    QTest::newRow("wrong root") << QByteArray("<rapporto/>") << "line 1: the root element is <rapporto>, not <report>";
    QTest::newRow("no connection") << "<report>" + column + "</report>"
                                   << "line 1: <report> needs the attribute \"connection\"";
    QTest::newRow("later version") << R"(<report version="2" connection="C">)" + column + "</report>"
                                   << "line 1: unsupported version \"2\"";
    QTest::newRow("unknown element") << "<report connection=\"C\">\n" + column + "\n<colour/>\n</report>"
                                     << "line 3: unknown element <colour>";
    QTest::newRow("misspelt attribute")
        << QByteArray(R"(<report connection="C"><columns><column field="a" aling="right"/></columns></report>)")
        << "line 1: <column> has no attribute \"aling\"";
    QTest::newRow("bad alignment")
        << QByteArray(R"(<report connection="C"><columns><column field="a" align="middle"/></columns></report>)")
        << "line 1: align \"middle\" is not one of center, left, right";
    QTest::newRow("zero width")
        << QByteArray(R"(<report connection="C"><columns><column field="a" width="0"/></columns></report>)")
        << "line 1: width \"0\" is not a number from 0.1 to 1000";
    QTest::newRow("field and counter")
        << QByteArray(R"(<report connection="C"><columns><column field="a" counter="true"/></columns></report>)")
        << "line 1: a <column> names a field or is a counter, one of the two";
    QTest::newRow("neither field nor counter")
        << QByteArray(R"(<report connection="C"><columns><column caption="a"/></columns></report>)")
        << "line 1: a <column> names a field or is a counter, one of the two";
    QTest::newRow("no columns") << QByteArray(R"(<report connection="C"><title>T</title></report>)")
                                << "line 1: the report has no columns";
    QTest::newRow("title twice") << R"(<report connection="C"><title>A</title><title>B</title>)" + column + "</report>"
                                 << "line 1: <title> given twice";
    QTest::newRow("three margins") << R"(<report connection="C"><page margins="1 2 3"/>)" + column + "</report>"
                                   << "line 1: margins takes one value or four (left top right bottom), not \"1 2 3\"";
    QTest::newRow("margins eat the page")
        << R"(<report connection="C"><page size="A5" margins="40"/>)" + column + "</report>"
        << "line 1: the margins leave too little of the page";
    QTest::newRow("unknown page size") << R"(<report connection="C"><page size="B7"/>)" + column + "</report>"
                                       << "line 1: size \"b7\" is not one of a3, a4, a5, legal, letter";
    QTest::newRow("group without field") << R"(<report connection="C"><group caption="x"/>)" + column + "</report>"
                                         << "line 1: <group> needs the attribute \"field\"";
    QTest::newRow("element inside a column")
        << QByteArray("<report connection=\"C\"><columns>\n<column field=\"a\"><b/></column></columns></report>")
        << "line 2: unexpected element <b> inside <column>";
    QTest::newRow("cut short") << QByteArray(R"(<report connection="C"><columns><column field="a"/>)")
                               << "line 1: Premature end of document.";
    QTest::newRow("text after the report") << "<report connection=\"C\">" + column + "</report>\n<report/>"
                                           << "line 2: Extra content at end of document.";
}

void TestReportLayout::faultyProjects()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, message);
    try {
        parse(xml);
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.message(), QStringLiteral("Report project \"test.rav\", ") + message);
    }
}

QTEST_GUILESS_MAIN(TestReportLayout)
#include "test_reportlayout.moc"
