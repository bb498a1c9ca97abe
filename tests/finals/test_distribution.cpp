#include "finals/distribution.h"

#include <QTest>

// Finalists taken from the qualification ranking into one final or all finals.
class TestDistribution : public QObject
{
    Q_OBJECT
private slots:
    void distribution_data();
    void distribution();
    void letters();
};

namespace {
QStringList ranking(int count)
{
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names.append(QStringLiteral("Q%1").arg(i));
    return names;
}

// "A:1=Q1 2=Q2|B:1=Q3" in row order, one group per run of equal letters.
QString layout(const QList<FinalistRow>& rows)
{
    QStringList groups;
    QString current;
    QStringList members;
    for (const FinalistRow& r : rows) {
        if (r.letter != current && !members.isEmpty()) {
            groups.append(current + QLatin1Char(':') + members.join(QLatin1Char(' ')));
            members.clear();
        }
        current = r.letter;
        members.append(QStringLiteral("%1=%2").arg(r.number).arg(r.name));
    }
    if (!members.isEmpty())
        groups.append(current + QLatin1Char(':') + members.join(QLatin1Char(' ')));
    return groups.join(QLatin1Char('|'));
}
} // namespace

void TestDistribution::distribution_data()
{
    QTest::addColumn<int>("qualifiers");
    QTest::addColumn<int>("perFinal");
    QTest::addColumn<bool>("single");
    QTest::addColumn<QString>("expected");

    QTest::newRow("ten, N = 4, all finals") << 10 << 4 << false
                                            << "A:1=Q1 2=Q2 3=Q3 4=Q4|B:1=Q5 2=Q6 3=Q7 4=Q8|C:1=Q9 2=Q10";
    QTest::newRow("eight, N = 4, all finals: A and B only") << 8 << 4 << false
                                                            << "A:1=Q1 2=Q2 3=Q3 4=Q4|B:1=Q5 2=Q6 3=Q7 4=Q8";
    QTest::newRow("ten, N = 4, single final") << 10 << 4 << true << "A:1=Q1 2=Q2 3=Q3 4=Q4";
    QTest::newRow("three, N = 4, single final") << 3 << 4 << true << "A:1=Q1 2=Q2 3=Q3";
    QTest::newRow("N = 0, all finals: everyone in A") << 3 << 0 << false << "A:1=Q1 2=Q2 3=Q3";
    QTest::newRow("N = 0, single final: nobody") << 3 << 0 << true << "";
    QTest::newRow("no qualifiers") << 0 << 4 << false << "";
    QTest::newRow("N = 1, 28 finals: the last ones keep Z")
        << 28 << 1 << false
        << "A:1=Q1|B:1=Q2|C:1=Q3|D:1=Q4|E:1=Q5|F:1=Q6|G:1=Q7|H:1=Q8|I:1=Q9|J:1=Q10|K:1=Q11|L:1=Q12|M:1=Q13|"
           "N:1=Q14|O:1=Q15|P:1=Q16|Q:1=Q17|R:1=Q18|S:1=Q19|T:1=Q20|U:1=Q21|V:1=Q22|W:1=Q23|X:1=Q24|Y:1=Q25|"
           "Z:1=Q26 1=Q27 1=Q28";
}

void TestDistribution::distribution()
{
    QFETCH(int, qualifiers);
    QFETCH(int, perFinal);
    QFETCH(bool, single);
    QFETCH(QString, expected);
    QCOMPARE(layout(distributeFinalists(ranking(qualifiers), perFinal, single)), expected);
}

void TestDistribution::letters()
{
    QString letter = QStringLiteral("?");
    finalLetter(1, letter);
    QCOMPARE(letter, QStringLiteral("A"));
    finalLetter(26, letter);
    QCOMPARE(letter, QStringLiteral("Z"));
    finalLetter(27, letter);
    QCOMPARE(letter, QStringLiteral("Z")); // unchanged
    finalLetter(0, letter);
    QCOMPARE(letter, QStringLiteral("Z"));

    // Letter and number convert both ways; anything that is not one capital letter is no final.
    for (int n = 1; n <= 26; ++n) {
        finalLetter(n, letter);
        QCOMPARE(finalNumberOf(letter), n);
    }
    for (const char* notAFinal : {"", "a", "AB", "1", "[", "@"})
        QCOMPARE(finalNumberOf(QLatin1String(notAFinal)), 0);
}

QTEST_GUILESS_MAIN(TestDistribution)
#include "test_distribution.moc"
