#include "competitors/batterie.h"
#include "competitors/concorrenti.h"
#include "competitors/lista_batterie.h"
#include "finals/finali.h"
#include "qualifications/qualifiche.h"
#include "race/gestione_gare.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tests/support/program.h"
#include "widgets/controls.h"
#include "widgets/datagrid.h"
#include "widgets/dialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The windows of the competitors, the heats, the heat chooser and the finals as they look: every control
// inside its window and clear of the others, captions readable, up-down arrows at their edits. With
// QUINTARA_SHOTS naming a folder, each window is also saved there as a PNG to look at.
class TestWindows : public QObject
{
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
};

namespace {

void writeList()
{
    Table list;
    layouts::defineCompetitorList(list);
    list.createTable();
    const QStringList names{"Anna Bianchi", "Bruno Rossi", "Carla Verdi", "Dario Neri", "Elena Gialli", "Franco Blu"};
    for (int i = 0; i < names.size(); ++i)
        list.appendRecord({names[i], 27.045 + 0.05 * i, i % 2 ? QStringLiteral("Junior") : QStringLiteral("Senior")});
    list.saveToFile(paths::programFile(layouts::competitorListFile));
}

void writeQualifiers()
{
    Table t;
    layouts::defineQualification(t);
    t.createTable();
    for (int i = 0; i < 10; ++i)
        t.appendRecord({i / 4 + 1, i % 4 + 1, QStringLiteral("Pilota %1").arg(i + 1), 12 - i, QVariant(),
                        QStringLiteral("0.31.250"), QVariant(), QStringLiteral("6.2"), (30.0 + i) / 86400,
                        QStringLiteral("0.30.%1").arg(100 + i)});
    t.saveToFile(paths::programFile(layouts::qualificationFile));
}

// Shows the window named `name` in the state the user sees it in.
Form* showWindow(const QString& name)
{
    TGestione_gare* g = Gestione_gare;
    if (name == QLatin1String("Frm_concorrenti")) {
        g->Inserimento1->trigger();
        return Frm_concorrenti;
    }
    if (name == QLatin1String("Form_batterie")) {
        g->Crea1Click();
        return Form_batterie;
    }
    if (name == QLatin1String("Frm_lista_batterie")) {
        g->Crea1Click();
        Form_batterie->Button2->click();
        return Frm_lista_batterie;
    }
    if (name == QLatin1String("Form_Qualifica")) {
        g->ScegliBatteria1Click();
        return Form_Qualifica;
    }
    if (name == QLatin1String("Form_Finali")) {
        dialogs::queueAnswer(true);
        g->EstraiFinalisti1Click();
        return Form_Finali;
    }
    // The race window during a final.
    dialogs::queueAnswer(true);
    g->EstraiFinalisti1Click();
    Form_Finali->Chb_Finale_Singola_SN->setChecked(false);
    Form_Finali->Button1->click();
    g->Preparo_Gestione_Finali();
    g->show();
    return g;
}

QString describe(const QWidget* w)
{
    return QStringLiteral("%1 %2,%3 %4x%5")
        .arg(w->objectName())
        .arg(w->x())
        .arg(w->y())
        .arg(w->width())
        .arg(w->height());
}

} // namespace

void TestWindows::layout_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("caption");
    QTest::newRow("competitor list") << "Frm_concorrenti"
                                     << "Inserimento concorrenti";
    QTest::newRow("heat settings") << "Form_batterie"
                                   << "batterie";
    QTest::newRow("generated heats") << "Frm_lista_batterie"
                                     << "Batterie generate";
    QTest::newRow("heat chooser") << "Form_Qualifica"
                                  << "Scegli nr.batteria";
    QTest::newRow("finals settings") << "Form_Finali"
                                     << "Finali";
    QTest::newRow("race window during a final") << "Gestione_gare"
                                                << "Quintara 2.6";
}

void TestWindows::layout()
{
    QFETCH(QString, window);
    QFETCH(QString, caption);
    ProgramSession session(ProgramSession::Device::None);
    writeList();
    writeQualifiers();
    session.start();
    Form* form = showWindow(window);
    QVERIFY(form->isVisible());
    QCOMPARE(form->windowTitle(), caption);
    QVERIFY(QTest::qWaitForWindowExposed(form));

    // Every visible control lies inside the client area and overlaps no other one.
    const QWidget* client = form->client();
    QList<QWidget*> controls;
    for (QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisible())
            controls << w;
    }
    QVERIFY(!controls.isEmpty());
    for (const QWidget* w : controls) {
        QVERIFY2(client->rect().contains(w->geometry()), qPrintable(describe(w) + " outside the window"));
        for (const QWidget* other : controls) {
            if (other != w)
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(describe(w) + " overlaps " + describe(other)));
        }
    }
    // A caption shows its whole text; up-down arrows sit at the right edge of their edit.
    for (const QLabel* label : client->findChildren<QLabel*>()) {
        if (label->isVisible() && !label->text().isEmpty() && label->pixmap().isNull())
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(describe(label) + " cut"));
    }
    for (const UpDown* arrows : client->findChildren<UpDown*>()) {
        const QRect a = arrows->geometry();
        bool attached = false;
        for (const QLineEdit* e : client->findChildren<QLineEdit*>()) {
            if (e->geometry().right() + 1 == a.left() && e->geometry().top() == a.top() && e->height() == a.height())
                attached = true;
        }
        QVERIFY2(attached, qPrintable(describe(arrows) + " not at an edit"));
    }

    const QString shots = qEnvironmentVariable("QUINTARA_SHOTS");
    if (!shots.isEmpty()) {
        QDir().mkpath(shots);
        QVERIFY(form->grab().save(shots + QLatin1Char('/') + window + QStringLiteral(".png")));
    }
}

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
