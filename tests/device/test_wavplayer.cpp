#include "device/wavplayer.h"
#include "tests/device/mutesoundserver.h"
#include "tests/support/testfolders.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>
#include <QTest>

namespace {

// A PCM wave: 8-bit mono at 11025 Hz, `ms` long.
QByteArray wave(int ms)
{
    const int rate = 11025;
    const QByteArray samples(rate * ms / 1000, char(0x80));
    QByteArray bytes = "RIFF....WAVEfmt ";
    auto add32 = [&bytes](quint32 v) { bytes.append(reinterpret_cast<const char*>(&v), 4); };
    auto add16 = [&bytes](quint16 v) { bytes.append(reinterpret_cast<const char*>(&v), 2); };
    add32(qToLittleEndian<quint32>(16));
    add16(qToLittleEndian<quint16>(1)); // PCM
    add16(qToLittleEndian<quint16>(1));
    add32(qToLittleEndian<quint32>(rate));
    add32(qToLittleEndian<quint32>(rate));
    add16(qToLittleEndian<quint16>(1));
    add16(qToLittleEndian<quint16>(8));
    bytes.append("data");
    add32(qToLittleEndian<quint32>(quint32(samples.size())));
    bytes.append(samples);
    const quint32 riffSize = qToLittleEndian<quint32>(quint32(bytes.size() - 8));
    bytes.replace(4, 4, reinterpret_cast<const char*>(&riffSize), 4);
    return bytes;
}

} // namespace

// The stop sound: played synchronously, but never longer than the sound plus one second, and skipped when it
// cannot be played.
class TestWavPlayer : public QObject
{
    Q_OBJECT
private slots:
    void returnsWithinTheBound_data();
    void returnsWithinTheBound();
};

void TestWavPlayer::returnsWithinTheBound_data()
{
    QTest::addColumn<QByteArray>("file"); // "stop.wav" in the folder; none when empty
    QTest::addColumn<QString>("server");  // "none": no sound server; "mute": one that never answers
    QTest::addColumn<QString>("warning"); // expected in the log
    QTest::addColumn<int>("boundMs");

    // clang-format off
    QTest::newRow("no file") << QByteArray() << "none" << "" << 1000;
    QTest::newRow("not a wave file") << QByteArray("RIFF\x10\0\0\0WAVEjunk", 16) << "none" << "not a PCM wave file"
                                     << 1000;
    QTest::newRow("compressed wave") << wave(500).replace(20, 1, "\x55") << "none" << "not a PCM wave file" << 1000;
    QTest::newRow("no sound server") << wave(500) << "none" << "" << 1000;
    QTest::newRow("a sound server that never answers")
        << wave(300) << "mute" << "the sound did not end in time" << 300 + 1000;
    // clang-format on
}

void TestWavPlayer::returnsWithinTheBound()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, server);
    QFETCH(QString, warning);
    QFETCH(int, boundMs);
    TestFolders folders;
    const QString path = folders.install() + QStringLiteral("stop.wav");
    if (!file.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    const QString socket = folders.install() + QStringLiteral("sound-server");
    MuteSoundServer mute;
    if (server == QLatin1String("mute"))
        QVERIFY(mute.listen(socket));
    const SoundServerOverride override(socket);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));

    WavPlayer player;
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!player.playAndWait(path));
    // Generous: this proves the player cannot hang the program, not how fast it gives up.
    QVERIFY2(elapsed.elapsed() < boundMs + 1000, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(player.attempts(), 1);
    QCOMPARE(player.lastFile(), path);
}

QTEST_GUILESS_MAIN(TestWavPlayer)
#include "test_wavplayer.moc"
