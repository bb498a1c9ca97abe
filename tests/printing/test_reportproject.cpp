#include "printing/dataconnection.h"
#include "printing/reportdocument.h"
#include "printing/reportproject.h"
#include "tables/error.h"
#include "tables/table.h"
#include "tests/printing/pdftext.h"

#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The report engine: a project over a data connection, rendered to PDF and read back with pdftotext.
class TestReportProject : public QObject
{
    Q_OBJECT
private slots:
    void openTableIsReadWhereItStands();
    void closedTableIsOpenedForTheRunAndClosedAgain();
    void tableThatCannotBeRead_data();
    void tableThatCannotBeRead();
    void missingProjectFile();
    void missingConnection();
    void projectIsLoadedOnceAndKept();
    void groupOrder_data();
    void groupOrder();
    void longReportRepeatsHeadingsOnEveryPage();
    void emptyTable();
    void paintsOnAPrinter();
    void pdfThatCannotBeWritten();
};

namespace {

// A small finals-like table: final, name, laps, frequency, position.
void defineFields(Table& t)
{
    t.clearFields();
    t.addField(QStringLiteral("finale"), FieldType::String, 20);
    t.addField(QStringLiteral("nome"), FieldType::String, 30);
    t.addField(QStringLiteral("giri"), FieldType::Integer);
    t.addField(QStringLiteral("frequenza"), FieldType::Float);
    t.addField(QStringLiteral("posiz."), FieldType::Integer);
}

void fill(Table& t, const QList<QVariantList>& rows)
{
    defineFields(t);
    t.createTable();
    for (const QVariantList& r : rows)
        t.appendRecord(r);
}

void saveTable(const QString& path, const QList<QVariantList>& rows)
{
    Table t;
    fill(t, rows);
    t.saveToFile(path);
}

const QList<QVariantList> meeting = {
    {"B", "Anna", 10, 27.095, 1},  {"A", "Bruno", 13, 27.145, 1}, {QVariant(), "Carla", 0, 27.195, QVariant()},
    {"A", "Elena", 12, 27.245, 2}, {"C", "Dario", 8, 27.255, 1},
};

QByteArray project(const QByteArray& body, const QByteArray& connection = "Conn")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<report version=\"1\" connection=\"" + connection + "\">\n" +
           body + "\n</report>\n";
}

const QByteArray nameColumns = R"(<columns>
  <column counter="true" caption="N." width="8" align="right"/>
  <column field="nome" caption="Concorrente" width="40"/>
  <column field="giri" caption="Giri" width="10" align="right"/>
</columns>)";

struct Fixture
{
    QTemporaryDir dir;
    QObject owner;
    Table* table = new Table(QStringLiteral("CDS_Test"), &owner);
    DataConnection* connection = new DataConnection(QStringLiteral("Conn"), table, &owner);
    ReportProject* projectObject = new ReportProject(QStringLiteral("Proj"), dir.filePath("test.rav"), &owner);

    void writeProject(const QByteArray& xml) const
    {
        QFile f(projectObject->projectFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(xml);
    }
    QString pdf() const { return dir.filePath(QStringLiteral("out.pdf")); }
    QString tableFile() const { return dir.filePath(QStringLiteral("finali.xml")); }
};

QString engineErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const AppError& e) {
        return e.message();
    }
    return QString();
}

} // namespace

#define REQUIRE_PDFTOTEXT()                                                                                            \
    if (!pdftext::available())                                                                                         \
    QSKIP("pdftotext (poppler-utils) is not installed")

void TestReportProject::openTableIsReadWhereItStands()
{
    Fixture f;
    fill(*f.table, meeting);
    f.table->setIndexFieldNames(QStringLiteral("giri"));
    f.table->setFilter(QStringLiteral("finale = 'A'"));
    f.table->setFiltered(true);
    f.table->moveTo(1);
    f.table->edit();
    f.table->setValue(QStringLiteral("nome"), QStringLiteral("Bruno V.")); // not posted

    const ReportData data = f.connection->read({QStringLiteral("NOME"), QStringLiteral("giri")});
    QCOMPARE(data.fields.size(), 2);
    QCOMPARE(data.fields[1].type, FieldType::Integer);
    // The rows the filter lets through, in the table's order, as the grid shows them.
    QCOMPARE(data.rows, (QList<QVariantList>{{"Elena", 12}, {"Bruno V.", 13}}));

    QVERIFY(f.table->isOpen());
    QVERIFY(f.table->filtered());
    QCOMPARE(f.table->filter(), QStringLiteral("finale = 'A'"));
    QCOMPARE(f.table->indexFieldNames(), QStringLiteral("giri"));
    QCOMPARE(f.table->currentRow(), 1);
    QCOMPARE(f.table->state(), Table::State::Edit);
    QVERIFY(f.table->editModified());
}

void TestReportProject::closedTableIsOpenedForTheRunAndClosedAgain()
{
    Fixture f;
    saveTable(f.tableFile(), meeting);
    QFile file(f.tableFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    f.table->setFileName(f.tableFile());
    f.table->setIndexFieldNames(QStringLiteral("giri"));
    f.table->setFilter(QStringLiteral("finale = 'A'"));
    f.table->setFiltered(true);
    QCOMPARE(f.connection->read({QStringLiteral("nome")}).rows, (QList<QVariantList>{{"Elena"}, {"Bruno"}}));
    QVERIFY(!f.table->isOpen());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before); // read, not written back
    file.close();

    // The next run reads the file again.
    saveTable(f.tableFile(), {{"A", "Gino", 3, 27.0, 1}});
    QCOMPARE(f.connection->read({QStringLiteral("nome")}).rows, (QList<QVariantList>{{"Gino"}}));
    QVERIFY(!f.table->isOpen());
}

void TestReportProject::tableThatCannotBeRead_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no file
    QTest::addColumn<QString>("field");
    QTest::newRow("missing file") << QByteArray() << "nome";
    QTest::newRow("broken file") << QByteArray("<DATAPACKET><METADATA>") << "nome";
    QTest::newRow("unknown field") << QByteArray("good") << "tempo";
}

void TestReportProject::tableThatCannotBeRead()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, field);
    Fixture f;
    if (file == "good") {
        saveTable(f.tableFile(), meeting);
    } else if (!file.isEmpty()) {
        QFile out(f.tableFile());
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    f.writeProject(project("<columns><column field=\"" + field.toUtf8() + "\"/></columns>"));
    f.table->setFileName(f.tableFile());

    // The table engine's own error, as opening the table and reading the field give it.
    Table probe(QStringLiteral("CDS_Test"));
    probe.setFileName(f.tableFile());
    const QString expected = engineErrorOf([&] {
        probe.open();
        probe.fieldIndexOrThrow(field);
    });
    QVERIFY(!expected.isEmpty());

    QCOMPARE(engineErrorOf([&] { f.projectObject->renderToPdf(f.pdf()); }), expected);
    QVERIFY(!f.table->isOpen());
    QVERIFY(!QFile::exists(f.pdf()));
}

void TestReportProject::missingProjectFile()
{
    Fixture f;
    fill(*f.table, meeting);
    f.table->setFilter(QStringLiteral("finale = 'A'"));
    f.table->setFiltered(true);
    f.table->moveTo(1);
    QCOMPARE(engineErrorOf([&] { f.projectObject->Execute(); }),
             QStringLiteral("The following reporting project does not exist:\n\"%1\"").arg(f.dir.filePath("test.rav")));
    QVERIFY(!f.projectObject->isLoaded());
    QVERIFY(f.table->filtered());
    QCOMPARE(f.table->currentRow(), 1);
}

void TestReportProject::missingConnection()
{
    REQUIRE_PDFTOTEXT();
    Fixture f;
    fill(*f.table, meeting);
    f.writeProject(project(nameColumns, "RvDataSetConnection9"));
    QCOMPARE(engineErrorOf([&] { f.projectObject->renderToPdf(f.pdf()); }),
             QStringLiteral("The report project \"%1\" needs the data connection RvDataSetConnection9, which does not "
                            "exist")
                 .arg(f.projectObject->projectFile()));
    QVERIFY(!QFile::exists(f.pdf()));
}

void TestReportProject::projectIsLoadedOnceAndKept()
{
    REQUIRE_PDFTOTEXT();
    Fixture f;
    fill(*f.table, meeting);
    f.writeProject(project("<title>Prima stesura</title>" + nameColumns));
    QCOMPARE(f.projectObject->renderToPdf(f.pdf()), 1);
    QVERIFY(f.projectObject->isLoaded());
    QVERIFY(pdftext::lines(f.pdf()).join('\n').contains(QStringLiteral("Prima stesura")));

    // A changed or removed project file is not read again; the data is.
    f.writeProject(project("<title>Seconda stesura</title>" + nameColumns));
    f.table->appendRecord({"D", "Franco", 7, 27.3, 1});
    f.projectObject->renderToPdf(f.pdf());
    QFile::remove(f.projectObject->projectFile());
    f.projectObject->renderToPdf(f.pdf());
    const QString text = pdftext::lines(f.pdf()).join('\n');
    QVERIFY(text.contains(QStringLiteral("Prima stesura")));
    QVERIFY(!text.contains(QStringLiteral("Seconda stesura")));
    QVERIFY(text.contains(QStringLiteral("Franco")));
}

void TestReportProject::groupOrder_data()
{
    QTest::addColumn<QByteArray>("order");
    QTest::addColumn<QStringList>("expected");
    // Rows keep the table's order within their group; the row without a final comes last.
    const QStringList a = {"Finale A", "N. Concorrente Giri", "1 Bruno 13", "2 Elena 12"};
    const QStringList b = {"Finale B", "N. Concorrente Giri", "1 Anna 10"};
    const QStringList c = {"Finale C", "N. Concorrente Giri", "1 Dario 8"};
    const QStringList none = {"Finale", "N. Concorrente Giri", "1 Carla 0"};
    QTest::newRow("ascending") << QByteArray("ascending") << a + b + c + none;
    QTest::newRow("descending") << QByteArray("descending") << c + b + a + none;
    QTest::newRow("appearance") << QByteArray("appearance") << b + a + none + c;
}

void TestReportProject::groupOrder()
{
    REQUIRE_PDFTOTEXT();
    QFETCH(QByteArray, order);
    QFETCH(QStringList, expected);
    Fixture f;
    fill(*f.table, meeting);
    f.writeProject(project("<title>Finali</title><group field=\"finale\" caption=\"Finale %1\" order=\"" + order +
                           "\"/>" + nameColumns));
    f.projectObject->renderToPdf(f.pdf());
    const QStringList lines = pdftext::lines(f.pdf());
    QString why;
    QVERIFY2(pdftext::inOrder(lines, expected, &why), qPrintable(why));
    QCOMPARE(lines.count(QStringLiteral("N. Concorrente Giri")), 4);
}

void TestReportProject::longReportRepeatsHeadingsOnEveryPage()
{
    REQUIRE_PDFTOTEXT();
    Fixture f;
    QList<QVariantList> rows;
    QStringList expectedRows;
    for (const auto& [letter, count] : {std::pair{"A", 50}, std::pair{"B", 50}, std::pair{"C", 30}}) {
        for (int i = 1; i <= count; ++i) {
            rows.append({letter, QStringLiteral("Pilota %1%2").arg(letter).arg(i), i, 27.0, i});
            expectedRows.append(QStringLiteral("%1 Pilota %2%1 %1").arg(QString::number(i), QLatin1String(letter)));
        }
    }
    fill(*f.table, rows);
    f.writeProject(project(R"(<title>Finali</title>
<page size="A4"/>
<footer left="Prova" right="Pagina {page} di {pages}"/>
<group field="finale" caption="Finale %1"/>)" +
                           nameColumns));
    const int pageCount = f.projectObject->renderToPdf(f.pdf());
    const QList<QStringList> pages = pdftext::pages(f.pdf());
    QVERIFY(pageCount >= 4);
    QCOMPARE(pages.size(), pageCount);

    QStringList printedRows;
    for (int p = 0; p < pages.size(); ++p) {
        const QStringList& page = pages[p];
        QVERIFY2(page.contains(QStringLiteral("N. Concorrente Giri")), qPrintable(QString::number(p + 1)));
        QVERIFY2(page.last().endsWith(QStringLiteral("Pagina %1 di %2").arg(p + 1).arg(pageCount)),
                 qPrintable(page.last()));
        // A page that goes on with a final says so before its rows.
        const qsizetype header = page.indexOf(QStringLiteral("N. Concorrente Giri"));
        QVERIFY(header >= 1);
        QVERIFY2(page[header - 1].startsWith(QStringLiteral("Finale ")), qPrintable(page[header - 1]));
        if (p > 0 && !page[header + 1].startsWith(QStringLiteral("1 ")))
            QVERIFY2(page[header - 1].endsWith(QStringLiteral(" (segue)")), qPrintable(page[header - 1]));
        for (const QString& line : page) {
            if (line.contains(QStringLiteral(" Pilota ")))
                printedRows.append(line);
        }
    }
    QCOMPARE(printedRows, expectedRows); // every row once, in order

    if (!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()) {
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {f.pdf()});
        QVERIFY(info.waitForFinished(30000));
        QVERIFY(QString::fromUtf8(info.readAllStandardOutput()).contains(QStringLiteral("(A4)")));
    }
}

void TestReportProject::emptyTable()
{
    REQUIRE_PDFTOTEXT();
    Fixture f;
    fill(*f.table, {});
    f.writeProject(project("<title>Finali</title><group field=\"finale\"/>" + nameColumns +
                           "<empty>Nessuna finale da stampare.</empty>"));
    QCOMPARE(f.projectObject->renderToPdf(f.pdf()), 1);
    const QStringList lines = pdftext::lines(f.pdf());
    QString why;
    QVERIFY2(pdftext::inOrder(lines, {"N. Concorrente Giri", "Nessuna finale da stampare."}, &why), qPrintable(why));
    QVERIFY(lines.last().endsWith(QStringLiteral("Pagina 1 di 1")));
}

void TestReportProject::paintsOnAPrinter()
{
    REQUIRE_PDFTOTEXT();
    Fixture f;
    fill(*f.table, meeting);
    f.writeProject(project("<title>Finali</title><header left=\"{title}\" right=\"Data: {date}\"/>" + nameColumns));
    const ReportLayout layout = ReportLayout::load(f.projectObject->projectFile());
    const ReportDocument document(layout, f.connection->read(layout.fieldNames()), QDate(2025, 5, 3));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(f.pdf());
    printer.setPageLayout(layout.page);
    QCOMPARE(document.paint(printer), 1);
    const QStringList lines = pdftext::lines(f.pdf());
    QString why;
    QVERIFY2(pdftext::inOrder(lines,
                              {"Finali Data: 03/05/2025", "N. Concorrente Giri", "1 Anna 10", "2 Bruno 13", "3 Carla 0",
                               "4 Elena 12", "5 Dario 8"},
                              &why),
             qPrintable(why));
}

void TestReportProject::pdfThatCannotBeWritten()
{
    Fixture f;
    fill(*f.table, meeting);
    f.writeProject(project(nameColumns));
    const QString path = f.dir.filePath(QStringLiteral("no-such-folder/out.pdf"));
    const QString message = engineErrorOf([&] { f.projectObject->renderToPdf(path); });
    QVERIFY2(message.startsWith(QStringLiteral("Cannot create file \"%1\".").arg(path)), qPrintable(message));
}

QTEST_MAIN(TestReportProject)
#include "test_reportproject.moc"
