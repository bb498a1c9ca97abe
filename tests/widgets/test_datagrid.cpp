#include "tables/layouts.h"
#include "tables/table.h"
#include "tables/tablemodel.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"
#include "widgets/navigator.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

// The data-aware grid and the navigator, driven from the keyboard over a competitor list, with the
// model checked by QAbstractItemModelTester throughout.
class TestDataGrid : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void typingEditsAndTabWalksOnToTheNextRow();
    void tabOnTheLastCellAppendsAndAnUntouchedRowIsDropped();
    void downOnTheLastRowAppends();
    void emptyGridStartsItsFirstRowWhenTyped();
    void numberColumnsAcceptOnlyNumbers_data();
    void numberColumnsAcceptOnlyNumbers();
    void refusedValueIsReported();
    void ctrlDeleteAsks_data();
    void ctrlDeleteAsks();
    void insertedRowLeftUntouchedIsDropped();
    void postedRowMovesInTheOrderAndTheCursorStaysOnIt();
    void navigator();
    void readOnlyGridIsNotEdited();

private:
    void setUpGrid(const QStringList& names);
    QWidget* focus() const;
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void type(const QString& text);
    QStringList rows() const;
    void checkInStep();

    std::unique_ptr<Table> m_table;
    std::unique_ptr<TableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<QWidget> m_window;
    DataGrid* m_grid = nullptr;
    DBNavigator* m_navigator = nullptr;
};

void TestDataGrid::init()
{
    dialogs::setTestMode(true);
    dialogs::clearShown();
}

void TestDataGrid::cleanup()
{
    m_window.reset();
    m_tester.reset();
    m_model.reset();
    m_table.reset();
}

// A window with a navigator and a grid over a competitor list holding up to three `names` (frequency
// 27.1, 27.2, 27.3), the grid focused on the first cell.
void TestDataGrid::setUpGrid(const QStringList& names)
{
    m_table = std::make_unique<Table>(QStringLiteral("CDS_lista_conc"));
    layouts::defineCompetitorList(*m_table);
    m_table->createTable();
    const QList<double> frequencies{27.1, 27.2, 27.3};
    for (int i = 0; i < names.size(); ++i)
        m_table->appendRecord({names[i], frequencies.at(i), QStringLiteral("g")});
    m_table->first();
    m_model = std::make_unique<TableModel>(m_table.get());
    m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_window.get());
    m_navigator = new DBNavigator(m_window.get());
    m_grid = new DataGrid(m_window.get());
    layout->addWidget(m_navigator);
    layout->addWidget(m_grid);
    m_navigator->setDataSource(m_model.get());
    m_grid->setDataSource(m_model.get());
    m_window->resize(500, 300);
    m_window->show();
    m_grid->setFocus();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTRY_COMPARE(QApplication::focusWidget(), m_grid);
}

QWidget* TestDataGrid::focus() const
{
    return QApplication::focusWidget();
}

// Keys go where the user's keys go: to the focused widget, the grid or its open cell editor.
void TestDataGrid::press(int key, Qt::KeyboardModifiers modifiers)
{
    QVERIFY(focus());
    QTest::keyClick(focus(), Qt::Key(key), modifiers);
    // An editor closes with Return through a queued call.
    QCoreApplication::processEvents();
}

void TestDataGrid::type(const QString& text)
{
    for (const QChar c : text) {
        QVERIFY(focus());
        QTest::keyClick(focus(), c.toLatin1());
    }
}

// The rows as the table presents them, an open row with its unposted values.
QStringList TestDataGrid::rows() const
{
    QStringList out;
    for (int r = 0; r < m_table->recordCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < m_table->fieldCount(); ++c)
            cells << Table::displayText(m_table->valueAt(r, c), m_table->fields().at(c).type);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

// The grid's current row is the table's current row.
void TestDataGrid::checkInStep()
{
    QCOMPARE(m_grid->currentIndex().row(), m_table->currentRow());
    QCOMPARE(m_model->rowCount(), m_table->recordCount());
}

void TestDataGrid::typingEditsAndTabWalksOnToTheNextRow()
{
    setUpGrid({QStringLiteral("Anna"), QStringLiteral("Bruno")});
    QCOMPARE(m_grid->currentIndex(), m_model->index(0, 0));

    type(QStringLiteral("Zoe"));
    QVERIFY(qobject_cast<QLineEdit*>(focus()));
    QCOMPARE(qobject_cast<QLineEdit*>(focus())->text(), QStringLiteral("Zoe")); // typing replaces the cell
    press(Qt::Key_Tab);
    type(QStringLiteral("27,145"));
    press(Qt::Key_Tab);
    type(QStringLiteral("Junior"));
    QCOMPARE(m_table->state(), Table::State::Edit);
    // Tab on the last cell of a row goes on to the first cell of the next row, posting the row.
    press(Qt::Key_Tab);
    QCOMPARE(m_grid->currentIndex(), m_model->index(1, 0));
    QCOMPARE(m_table->state(), Table::State::Browse);
    QVERIFY(m_table->changedSinceSave());
    QCOMPARE(rows(), (QStringList{"Zoe|27.145|Junior", "Bruno|27.2|g"}));
    checkInStep();

    // Shift+Tab goes back across the row boundary.
    press(Qt::Key_Escape);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(m_grid->currentIndex(), m_model->index(0, 2));
    checkInStep();
}

void TestDataGrid::tabOnTheLastCellAppendsAndAnUntouchedRowIsDropped()
{
    setUpGrid({QStringLiteral("Anna")});
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QCOMPARE(m_grid->currentIndex(), m_model->index(0, 2));
    press(Qt::Key_Tab);
    QCOMPARE(m_table->recordCount(), 2);
    QCOMPARE(m_table->state(), Table::State::Insert);
    QCOMPARE(m_grid->currentIndex(), m_model->index(1, 0));
    checkInStep();

    // A new row walked through without typing stays untouched: Tab on its last cell appends no
    // second row, and leaving it drops it.
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QCOMPARE(m_table->recordCount(), 2);
    press(Qt::Key_Up);
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g"}));
    QCOMPARE(m_table->state(), Table::State::Browse);
    checkInStep();

    // Typed while its cell editor is still open, the text is the row's: Tab on the last cell posts it.
    press(Qt::Key_Down);
    type(QStringLiteral("Carla"));
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    type(QStringLiteral("Open"));
    press(Qt::Key_Tab);
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g", "Carla||Open", "||"}));
    QCOMPARE(m_table->state(), Table::State::Insert);
    checkInStep();
}

void TestDataGrid::downOnTheLastRowAppends()
{
    setUpGrid({QStringLiteral("Anna"), QStringLiteral("Bruno")});
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    QCOMPARE(m_table->recordCount(), 3);
    QCOMPARE(m_table->state(), Table::State::Insert);
    press(Qt::Key_Down); // no second new row below an untouched one
    QCOMPARE(m_table->recordCount(), 3);
    checkInStep();

    // Down with the cell editor still open posts what was typed and opens the next new row.
    type(QStringLiteral("Carla"));
    press(Qt::Key_Down);
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g", "Bruno|27.2|g", "Carla||", "||"}));
    checkInStep();
    press(Qt::Key_Escape);
    QCOMPARE(m_table->recordCount(), 3);
    QCOMPARE(m_table->state(), Table::State::Browse);
    checkInStep();
}

void TestDataGrid::emptyGridStartsItsFirstRowWhenTyped()
{
    setUpGrid({});
    QCOMPARE(m_model->columnCount(), 3);
    QCOMPARE(m_table->recordCount(), 0); // getting the focus starts no row
    type(QStringLiteral("Anna"));
    QCOMPARE(m_table->state(), Table::State::Insert);
    press(Qt::Key_Return);
    QCOMPARE(rows(), (QStringList{"Anna||"}));
    press(Qt::Key_Down);
    type(QStringLiteral("Bruno"));
    press(Qt::Key_Up);
    QCOMPARE(rows(), (QStringList{"Anna||", "Bruno||"}));
    QCOMPARE(m_table->state(), Table::State::Browse);
    checkInStep();
}

void TestDataGrid::numberColumnsAcceptOnlyNumbers_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("letters") << "abc"
                             << "27.1";
    QTest::newRow("digits then letters") << "27.2x"
                                         << "27.2";
    QTest::newRow("comma as decimal separator") << "40,665"
                                                << "40.665";
    QTest::newRow("three decimals kept") << "27.145"
                                         << "27.145";
}

void TestDataGrid::numberColumnsAcceptOnlyNumbers()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    setUpGrid({QStringLiteral("Anna")});
    press(Qt::Key_Right);
    type(typed);
    press(Qt::Key_Return);
    press(Qt::Key_Down);
    press(Qt::Key_Up); // leaves the new row again
    QCOMPARE(rows(), QStringList{"Anna|" + stored + "|g"});
}

void TestDataGrid::refusedValueIsReported()
{
    setUpGrid({QStringLiteral("Anna")});
    press(Qt::Key_Right);
    type(QStringLiteral("-"));
    press(Qt::Key_Return);
    QTRY_VERIFY(dialogs::shownTexts().contains(QStringLiteral("'-' is not a valid floating point value")));
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g"}));
}

void TestDataGrid::ctrlDeleteAsks_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("yes") << true << QStringList{"Anna|27.1|g"};
    QTest::newRow("no") << false << QStringList{"Anna|27.1|g", "Bruno|27.2|g"};
}

void TestDataGrid::ctrlDeleteAsks()
{
    QFETCH(bool, yes);
    QFETCH(QStringList, left);
    setUpGrid({QStringLiteral("Anna"), QStringLiteral("Bruno")});
    press(Qt::Key_Down);
    dialogs::queueAnswer(yes);
    press(Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(dialogs::shownTexts(), QStringList{"Delete record?"});
    QCOMPARE(rows(), left);
    checkInStep();
}

void TestDataGrid::insertedRowLeftUntouchedIsDropped()
{
    setUpGrid({QStringLiteral("Anna"), QStringLiteral("Bruno"), QStringLiteral("Carla")});
    press(Qt::Key_Down);
    press(Qt::Key_Insert);
    QCOMPARE(m_table->recordCount(), 4);
    QCOMPARE(m_grid->currentIndex().row(), 1);
    checkInStep();
    // Down from the dropped row lands on the row that was below it.
    press(Qt::Key_Down);
    QCOMPARE(m_table->recordCount(), 3);
    QCOMPARE(m_table->value(layouts::concorrente).toString(), QStringLiteral("Bruno"));
    checkInStep();

    press(Qt::Key_Insert);
    press(Qt::Key_Escape);
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g", "Bruno|27.2|g", "Carla|27.3|g"}));
    QCOMPARE(m_table->value(layouts::concorrente).toString(), QStringLiteral("Bruno"));
    checkInStep();
}

void TestDataGrid::postedRowMovesInTheOrderAndTheCursorStaysOnIt()
{
    setUpGrid({QStringLiteral("Carla"), QStringLiteral("Anna"), QStringLiteral("Bruno")});
    m_table->setIndexFieldNames(layouts::concorrente);
    QCOMPARE(m_grid->currentIndex().row(), m_table->currentRow());
    m_grid->setCurrentIndex(m_model->index(0, 0));
    QCOMPARE(m_table->value(layouts::concorrente).toString(), QStringLiteral("Anna"));
    type(QStringLiteral("Zeno"));
    press(Qt::Key_Return);
    // Down posts the renamed row, which moves to the end; the cursor goes to the row below it.
    press(Qt::Key_Down);
    QCOMPARE(rows(), (QStringList{"Bruno|27.3|g", "Carla|27.1|g", "Zeno|27.2|g"}));
    QCOMPARE(m_table->value(layouts::concorrente).toString(), QStringLiteral("Bruno"));
    checkInStep();
}

void TestDataGrid::navigator()
{
    setUpGrid({QStringLiteral("Anna"), QStringLiteral("Bruno"), QStringLiteral("Carla")});
    using B = DBNavigator::Button;
    auto enabled = [this](B b) { return m_navigator->button(b)->isEnabled(); };
    QVERIFY(!enabled(B::First) && !enabled(B::Prior) && enabled(B::Next) && enabled(B::Last));
    QVERIFY(!enabled(B::Post) && !enabled(B::Cancel));

    QTest::mouseClick(m_navigator->button(B::Last), Qt::LeftButton);
    QCOMPARE(m_table->currentRow(), 2);
    QVERIFY(enabled(B::First) && !enabled(B::Next));
    checkInStep();
    QTest::mouseClick(m_navigator->button(B::Prior), Qt::LeftButton);
    QCOMPARE(m_table->currentRow(), 1);
    checkInStep();
    QCOMPARE(focus(), m_grid); // the buttons leave the focus in the grid

    // A cell still being typed in is the row's before the command acts.
    type(QStringLiteral("Bea"));
    QCOMPARE(m_table->state(), Table::State::Edit); // typing edits the row
    QTest::mouseClick(m_navigator->button(B::Post), Qt::LeftButton);
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g", "Bea|27.2|g", "Carla|27.3|g"}));
    QCOMPARE(m_table->state(), Table::State::Browse);
    checkInStep();

    QTest::mouseClick(m_navigator->button(B::Insert), Qt::LeftButton);
    QCOMPARE(m_table->state(), Table::State::Insert);
    QVERIFY(enabled(B::Post) && enabled(B::Cancel));
    checkInStep();
    QTest::mouseClick(m_navigator->button(B::Cancel), Qt::LeftButton);
    QCOMPARE(m_table->recordCount(), 3);
    checkInStep();

    dialogs::queueAnswer(true);
    QTest::mouseClick(m_navigator->button(B::Delete), Qt::LeftButton);
    QCOMPARE(dialogs::shownTexts(), QStringList{"Delete record?"});
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g", "Carla|27.3|g"}));
    checkInStep();
    QTest::mouseClick(m_navigator->button(B::First), Qt::LeftButton);
    QCOMPARE(m_table->currentRow(), 0);
    checkInStep();
}

void TestDataGrid::readOnlyGridIsNotEdited()
{
    setUpGrid({QStringLiteral("Anna")});
    m_grid->setReadOnly(true);
    type(QStringLiteral("Zoe"));
    press(Qt::Key_Down);
    press(Qt::Key_Insert);
    press(Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(rows(), (QStringList{"Anna|27.1|g"}));
    QCOMPARE(m_table->state(), Table::State::Browse);
    QVERIFY(dialogs::shownTexts().isEmpty());
}

QTEST_MAIN(TestDataGrid)
#include "test_datagrid.moc"
