#include "speech/preferences.h"
#include "tables/paths.h"
#include "tests/support/testfolders.h"

#include <QFile>
#include <QTest>

// The speech on/off preference: kept in its own file in the installation folder, off by default,
// and never touching the settings file.
class TestSpeechPreferences : public QObject
{
    Q_OBJECT
private slots:
    void offUntilSwitchedOn();
    void keptInTheInstallationFolder();
    void settingsFileStaysAsItIs();
};

void TestSpeechPreferences::offUntilSwitchedOn()
{
    TestFolders folders;
    QVERIFY(!preferences::speechEnabledSetting());
    preferences::setSpeechEnabledSetting(true);
    QVERIFY(preferences::speechEnabledSetting());
    preferences::setSpeechEnabledSetting(false);
    QVERIFY(!preferences::speechEnabledSetting());
}

void TestSpeechPreferences::keptInTheInstallationFolder()
{
    TestFolders first;
    preferences::setSpeechEnabledSetting(true);
    QCOMPARE(preferences::filePath(), first.install() + QStringLiteral("quintara-preferences.ini"));
    QVERIFY(QFile::exists(first.install() + QStringLiteral("quintara-preferences.ini")));
    {
        // Another installation folder has its own preference.
        TestFolders second;
        QVERIFY(!preferences::speechEnabledSetting());
    }
    // Back in the first folder the choice is still there, as on the next run.
    paths::setInstallFolder(first.install());
    QVERIFY(preferences::speechEnabledSetting());
}

void TestSpeechPreferences::settingsFileStaysAsItIs()
{
    TestFolders folders;
    const QString settingsPath = folders.install() + QStringLiteral("Quintara.ini");
    const QByteArray bytes("[settings]\r\nCom\r\n2\r\nTmin\r\n5\r\n");
    QFile settings(settingsPath);
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(bytes);
    settings.close();

    preferences::setSpeechEnabledSetting(true);
    preferences::setSpeechEnabledSetting(false);
    preferences::setSpeechEnabledSetting(true);

    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), bytes);
    QVERIFY(preferences::speechEnabledSetting());
}

QTEST_GUILESS_MAIN(TestSpeechPreferences)
#include "test_speechpreferences.moc"
