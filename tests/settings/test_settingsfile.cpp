#include "settings/settingsfile.h"
#include "tables/error.h"
#include "tests/support/testfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

// The settings file: its exact bytes, the reading algorithm and failed saves.
class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
    void exactBytes();
    void readValue_data();
    void readValue();
    void failedSavesChangeNothing_data();
    void failedSavesChangeNothing();
};

void TestSettingsFile::exactBytes()
{
    TestFolders folders;
    const QString path = folders.install() + settingsfile::fileName;
    settingsfile::write(path, 1, 5);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("[settings]\r\nCom\r\n1\r\nTmin\r\n5\r\n"));
    QCOMPARE(settingsfile::contents(-2, 12), QByteArray("[settings]\r\nCom\r\n-2\r\nTmin\r\n12\r\n"));
}

void TestSettingsFile::readValue_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("com");
    QTest::addColumn<QString>("tmin");

    QTest::newRow("as written") << QByteArray("[settings]\r\nCom\r\n2\r\nTmin\r\n5\r\n") << "2" << "5";
    QTest::newRow("unix line ends") << QByteArray("[settings]\nCom\n2\nTmin\n7\n") << "2" << "7";
    QTest::newRow("no final line end") << QByteArray("[settings]\r\nCom\r\n1\r\nTmin\r\n9") << "1" << "9";
    QTest::newRow("first line is skipped even when it is a key")
        << QByteArray("Com\r\n3\r\nCom\r\n4\r\nTmin\r\n5\r\n") << "4" << "5";
    QTest::newRow("key case as written") << QByteArray("[settings]\r\ncom\r\n2\r\nTmin\r\n5\r\n") << "" << "5";
    // The search stops at an empty line; the value is then the line after it.
    QTest::newRow("empty line stops the search")
        << QByteArray("[settings]\r\n\r\n8\r\nCom\r\n2\r\nTmin\r\n5\r\n") << "8" << "8";
    QTest::newRow("missing key at end of file") << QByteArray("[settings]\r\nCom\r\n2\r\n") << "2" << "";
    QTest::newRow("empty file") << QByteArray() << "" << "";
}

void TestSettingsFile::readValue()
{
    QFETCH(QByteArray, content);
    TestFolders folders;
    const QString path = folders.install() + settingsfile::fileName;
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    QFETCH(QString, com);
    QFETCH(QString, tmin);
    QCOMPARE(settingsfile::readValue(path, settingsfile::comKey), com);
    QCOMPARE(settingsfile::readValue(path, settingsfile::tminKey), tmin);
}

void TestSettingsFile::failedSavesChangeNothing_data()
{
    QTest::addColumn<QString>("target"); // relative to the install folder
    QTest::addColumn<QString>("message");

    QTest::newRow("missing folder") << QStringLiteral("missing/") + settingsfile::fileName << "Invalid filename";
    QTest::newRow("folder in the file's place") << settingsfile::fileName << "File access denied";
}

// Faults that stop root too, so that the refusal is tested wherever the tests run.
void TestSettingsFile::failedSavesChangeNothing()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    TestFolders folders;
    const QString path = folders.install() + target;
    // A folder that no rename can replace stands where the settings file goes.
    QVERIFY(QDir().mkpath(folders.install() + settingsfile::fileName));
    QFile keep(folders.install() + settingsfile::fileName + QStringLiteral("/keep"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.close();
    const QStringList before = QDir(folders.install()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    try {
        settingsfile::write(path, 1, 9);
        QFAIL("the save reported success");
    } catch (const IoError& e) {
        QCOMPARE(e.message(), message);
    }
    // No temporary file is left behind, and the folder is untouched.
    QCOMPARE(QDir(folders.install()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QVERIFY(QFileInfo(folders.install() + settingsfile::fileName).isDir());
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settingsfile.moc"
