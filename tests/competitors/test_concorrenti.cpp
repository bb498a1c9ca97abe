#include "competitors/concorrenti.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "tests/support/program.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

// The competitor list window, used from the keyboard as on race morning, and its file.
class TestConcorrenti : public QObject
{
    Q_OBJECT
private slots:
    void firstUseTypedFromTheKeyboard();
    void everyWayOfClosingSaves_data();
    void everyWayOfClosingSaves();
    void resetThenClose();
    void alphabeticalOrderPersists();
    void unreadableListStaysIntact_data();
    void unreadableListStaysIntact();
    void resetStartsAfreshAfterAnUnreadableList();
    void listThatCannotBeSavedKeepsTheWindowOpen();
};

namespace {

QString listPath()
{
    return paths::programFile(layouts::competitorListFile);
}

void writeList(const QList<QStringList>& rows)
{
    Table list;
    layouts::defineCompetitorList(list);
    list.createTable();
    for (const QStringList& r : rows)
        list.appendRecord({r.value(0), r.value(1).isEmpty() ? QVariant() : QVariant(r.value(1).toDouble()),
                           r.value(2).isEmpty() ? QVariant() : QVariant(r.value(2))});
    list.saveToFile(listPath());
}

// The rows of a saved list as "name|frequency|group", in file order.
QStringList savedList()
{
    Table list;
    list.setFileName(listPath());
    list.open();
    QStringList rows;
    for (list.first(); !list.eof(); list.next()) {
        QStringList cells;
        for (int c = 0; c < list.fieldCount(); ++c)
            cells << Table::displayText(list.valueAt(list.currentRow(), c), list.fields().at(c).type);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// The names as the grid shows them.
QStringList gridNames()
{
    const TableModel* model = Frm_concorrenti->DS_lista_conc;
    QStringList names;
    for (int r = 0; r < model->rowCount(); ++r)
        names << model->index(r, 0).data().toString();
    return names;
}

void showList()
{
    dialogs::clearShown();
    Gestione_gare->Inserimento1->trigger();
    QVERIFY(Frm_concorrenti->isVisible());
    QApplication::setActiveWindow(Frm_concorrenti);
    QVERIFY(QTest::qWaitForWindowActive(Frm_concorrenti));
}

// Keys go to the focused widget, the grid or its open cell editor.
void press(Qt::Key key)
{
    QVERIFY(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key);
    QCoreApplication::processEvents(); // Return closes an editor through a queued call
}

void type(const QString& text)
{
    for (const QChar c : text) {
        QVERIFY(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
}

} // namespace

void TestConcorrenti::firstUseTypedFromTheKeyboard()
{
    ProgramSession session(ProgramSession::Device::None);
    session.start();
    QAbstractItemModelTester tester(Frm_concorrenti->DS_lista_conc,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(!Gestione_gare->Crea1->isEnabled());
    showList();

    // An empty grid with the three columns, and the focus in it.
    QCOMPARE(QApplication::focusWidget(), Frm_concorrenti->DBGrid1);
    const TableModel* model = Frm_concorrenti->DS_lista_conc;
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("concorrente"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("frequenza"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("gruppo"));
    QVERIFY(!QFile::exists(listPath())); // nothing written while editing

    // Name, Tab, frequency, Tab, group, Tab: the next competitor's row.
    for (const QString& entry : {QStringLiteral("Anna\t27,145\tJunior"), QStringLiteral("Bruno\t40.665\t"),
                                 QStringLiteral("Carla\t\tSenior")}) {
        const QStringList cells = entry.split(QLatin1Char('\t'));
        for (int c = 0; c < cells.size(); ++c) {
            type(cells[c]);
            press(Qt::Key_Tab);
        }
    }
    QCOMPARE(model->rowCount(), 4); // the new row after Carla, untouched

    Frm_concorrenti->Button2->click();
    QVERIFY(!Frm_concorrenti->isVisible());
    QVERIFY(!Frm_concorrenti->CDS_lista_conc->isOpen());
    QCOMPARE(savedList(), (QStringList{"Anna|27.145|Junior", "Bruno|40.665|", "Carla||Senior"}));
    QVERIFY(Gestione_gare->Crea1->isEnabled());
}

void TestConcorrenti::everyWayOfClosingSaves_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Esci") << "Esci";
    QTest::newRow("File > Exit") << "Exit";
    QTest::newRow("close box") << "close box";
}

void TestConcorrenti::everyWayOfClosingSaves()
{
    QFETCH(QString, how);
    ProgramSession session(ProgramSession::Device::None);
    writeList({{"Anna", "27.1", "A"}, {"Bruno", "27.2", "B"}});
    session.start();
    showList();
    QCOMPARE(gridNames(), (QStringList{"Anna", "Bruno"}));

    // An untouched new row at the end, and a changed row whose cell editor is still open.
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    QCOMPARE(Frm_concorrenti->CDS_lista_conc->recordCount(), 3);
    press(Qt::Key_Up);
    press(Qt::Key_Up);
    type(QStringLiteral("Anita"));

    if (how == QLatin1String("Esci"))
        Frm_concorrenti->Button2->click();
    else if (how == QLatin1String("Exit"))
        Frm_concorrenti->Exit1->trigger();
    else
        Frm_concorrenti->close();
    QVERIFY(!Frm_concorrenti->isVisible());
    QCOMPARE(savedList(), (QStringList{"Anita|27.1|A", "Bruno|27.2|B"}));
    QVERIFY(Gestione_gare->Crea1->isEnabled());
}

void TestConcorrenti::resetThenClose()
{
    ProgramSession session(ProgramSession::Device::None);
    writeList({{"Anna", "27.1", "A"}, {"Bruno", "27.2", "B"}});
    session.start();
    showList();
    Frm_concorrenti->Button2->click();
    QVERIFY(Gestione_gare->Crea1->isEnabled());

    showList();
    Frm_concorrenti->Button1->click();
    QVERIFY(dialogs::shown().isEmpty()); // no confirmation
    QVERIFY(!QFile::exists(listPath()));
    QCOMPARE(Frm_concorrenti->DS_lista_conc->rowCount(), 0);
    QVERIFY(Frm_concorrenti->CDS_lista_conc->isOpen());
    QVERIFY(!Gestione_gare->Crea1->isEnabled()); // the race window's menu sees it before the window closes

    Frm_concorrenti->close();
    QVERIFY(QFile::exists(listPath()));
    QCOMPARE(savedList(), QStringList());
    QVERIFY(Gestione_gare->Crea1->isEnabled());
}

void TestConcorrenti::alphabeticalOrderPersists()
{
    ProgramSession session(ProgramSession::Device::None);
    writeList({{"Carla", "27.3", ""}, {"Anna", "27.1", ""}, {"Bruno", "27.2", ""}});
    session.start();
    showList();
    QVERIFY(!Frm_concorrenti->Ckb_ordina->isChecked());
    QCOMPARE(gridNames(), (QStringList{"Carla", "Anna", "Bruno"}));
    Frm_concorrenti->Ckb_ordina->click();
    QCOMPARE(gridNames(), (QStringList{"Anna", "Bruno", "Carla"}));
    Frm_concorrenti->Button2->click();
    QCOMPARE(savedList(), (QStringList{"Carla|27.3|", "Anna|27.1|", "Bruno|27.2|"})); // only the view was sorted

    showList();
    QVERIFY(Frm_concorrenti->Ckb_ordina->isChecked());
    QCOMPARE(gridNames(), (QStringList{"Anna", "Bruno", "Carla"}));
    Frm_concorrenti->Ckb_ordina->click();
    QCOMPARE(gridNames(), (QStringList{"Carla", "Anna", "Bruno"}));
    Frm_concorrenti->Button2->click();
}

void TestConcorrenti::unreadableListStaysIntact_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not XML") << QByteArray("Anna;27.1;Junior\r\n");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("cut short") << QByteArray("<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\">"
                                             "<METADATA><FIELDS><FIELD attrname=\"concorrente\" fieldtype=\"string\"");
}

void TestConcorrenti::unreadableListStaysIntact()
{
    QFETCH(QByteArray, content);
    ProgramSession session(ProgramSession::Device::None);
    QFile file(session.folders().program() + layouts::competitorListFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    session.start();

    showList();
    QCOMPARE(dialogs::shown().size(), 1);
    QCOMPARE(dialogs::shown().first().kind, dialogs::Kind::Error);
    QVERIFY(!Frm_concorrenti->CDS_lista_conc->isOpen());

    for (const auto& close : {+[] { Frm_concorrenti->Button2->click(); }, +[] { Frm_concorrenti->close(); }}) {
        if (!Frm_concorrenti->isVisible())
            showList();
        close();
        QVERIFY(!Frm_concorrenti->isVisible());
        QCOMPARE(readFile(file.fileName()), content);
        QVERIFY(!Gestione_gare->Crea1->isEnabled()); // nothing was saved
    }
}

void TestConcorrenti::resetStartsAfreshAfterAnUnreadableList()
{
    ProgramSession session(ProgramSession::Device::None);
    QFile file(session.folders().program() + layouts::competitorListFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("garbage");
    file.close();
    session.start();
    showList();
    dialogs::clearShown();

    Frm_concorrenti->Button1->click();
    QVERIFY(dialogs::shown().isEmpty());
    QVERIFY(!QFile::exists(listPath()));
    type(QStringLiteral("Anna"));
    Frm_concorrenti->close();
    QCOMPARE(savedList(), QStringList{"Anna||"});
    QVERIFY(Gestione_gare->Crea1->isEnabled());
}

void TestConcorrenti::listThatCannotBeSavedKeepsTheWindowOpen()
{
    ProgramSession session(ProgramSession::Device::None);
    session.start();
    showList();
    type(QStringLiteral("Anna"));
    // A folder in the file's place: the list cannot be written there.
    QVERIFY(QDir(session.folders().program()).mkdir(layouts::competitorListFile));

    Frm_concorrenti->close();
    QCOMPARE(dialogs::shown().size(), 1);
    QCOMPARE(dialogs::shown().first().kind, dialogs::Kind::Error);
    QVERIFY(Frm_concorrenti->isVisible());
    QVERIFY(Frm_concorrenti->CDS_lista_conc->isOpen());
    QVERIFY(!Gestione_gare->Crea1->isEnabled());

    QVERIFY(QDir(session.folders().program()).rmdir(layouts::competitorListFile));
    Frm_concorrenti->close();
    QVERIFY(!Frm_concorrenti->isVisible());
    QCOMPARE(savedList(), QStringList{"Anna||"});
    QVERIFY(Gestione_gare->Crea1->isEnabled());
}

QTEST_MAIN(TestConcorrenti)
#include "test_concorrenti.moc"
