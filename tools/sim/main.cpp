// quintara-sim: the timing device on a pseudo-terminal, for running the program without hardware.

#include "tables/error.h"
#include "tools/sim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(g_signalPipe[1], &byte, 1);
}

// Quits the event loop on SIGINT, SIGTERM and SIGHUP, so the link is removed on the way out.
void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

QString printable(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += (byte >= 0x20 && byte < 0x7f) ? QString(QLatin1Char(c))
                                              : QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

int intOption(const QCommandLineParser& parser, const QString& name)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok)
        throw AppError(QStringLiteral("--%1 takes a whole number, not \"%2\"").arg(name, parser.value(name)));
    return value;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quintara-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates the Quintara timing device on a pseudo-terminal linked as COM<port> in the installation folder.\n"
        "Answers \"A\" with \"B\", follows the start lights \"R\" \"4\" \"3\" \"2\" \"1\" \"Y\" \"E\", sends a channel "
        "digit for each passage after \"E\" and stops at \"X\". Logs every byte received and sent."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Link the device as COM<n> (default 1)."), QStringLiteral("n"),
         QStringLiteral("1")},
        {QStringLiteral("folder"), QStringLiteral("Put the link in <dir> instead of the installation folder."),
         QStringLiteral("dir")},
        {QStringLiteral("cars"), QStringLiteral("Cars on channels 1 to <n>, 1 to 5 (default 5)."), QStringLiteral("n"),
         QStringLiteral("5")},
        {QStringLiteral("lap-ms"), QStringLiteral("Mean lap time in ms (default 8000)."), QStringLiteral("ms"),
         QStringLiteral("8000")},
        {QStringLiteral("spread-ms"), QStringLiteral("Laps vary evenly by up to +/- <ms> (default 1000)."),
         QStringLiteral("ms"), QStringLiteral("1000")},
        {QStringLiteral("seed"), QStringLiteral("Random seed of the generated laps (default 1)."), QStringLiteral("n"),
         QStringLiteral("1")},
        {QStringLiteral("script"),
         QStringLiteral("Send the passages of <file> instead: one \"<ms-after-E> <channel>\" per line, # comments."),
         QStringLiteral("file")},
        {QStringLiteral("answer"), QStringLiteral("Answer to \"A\": normal (\"B\"), silent, late or b1 (\"B1\")."),
         QStringLiteral("mode"), QStringLiteral("normal")},
        {QStringLiteral("late-ms"), QStringLiteral("Delay of the late answer in ms (default 1500)."),
         QStringLiteral("ms"), QStringLiteral("1500")},
        {QStringLiteral("paced"), QStringLiteral("Send one byte per 9600-baud character time (1.04 ms).")},
        {QStringLiteral("log"), QStringLiteral("Append the log to <file> instead of standard error."),
         QStringLiteral("file")},
    });
    parser.process(app);

    QTextStream err(stderr);
    Simulator simulator;
    int port = 1;
    QFile logFile;
    try {
        if (!parser.positionalArguments().isEmpty())
            throw AppError(QStringLiteral("Unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
        port = intOption(parser, QStringLiteral("port"));
        if (port < 1)
            throw AppError(QStringLiteral("--port must be 1 or more"));
        const auto answer = answerModeFromText(parser.value(QStringLiteral("answer")));
        if (!answer)
            throw AppError(QStringLiteral("--answer is normal, silent, late or b1, not \"%1\"")
                               .arg(parser.value(QStringLiteral("answer"))));
        simulator.setAnswerMode(*answer);
        simulator.setLateMs(intOption(parser, QStringLiteral("late-ms")));
        simulator.setPaced(parser.isSet(QStringLiteral("paced")));
        CarsSettings cars;
        cars.cars = intOption(parser, QStringLiteral("cars"));
        cars.lapMs = intOption(parser, QStringLiteral("lap-ms"));
        cars.spreadMs = intOption(parser, QStringLiteral("spread-ms"));
        bool seedOk = false;
        cars.seed = parser.value(QStringLiteral("seed")).toUInt(&seedOk);
        if (!seedOk)
            throw AppError(
                QStringLiteral("--seed takes a whole number, not \"%1\"").arg(parser.value(QStringLiteral("seed"))));
        simulator.setCars(cars);
        if (parser.isSet(QStringLiteral("script")))
            simulator.setScript(loadPassageScript(parser.value(QStringLiteral("script"))));
        if (parser.isSet(QStringLiteral("log"))) {
            logFile.setFileName(parser.value(QStringLiteral("log")));
            if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
                throw AppError(
                    QStringLiteral("Cannot write the log %1: %2").arg(logFile.fileName(), logFile.errorString()));
        }
    } catch (const AppError& error) {
        err << "quintara-sim: " << error.message() << "\n";
        return 2;
    }

    QTextStream log(&logFile);
    QTextStream& out = logFile.isOpen() ? log : err;
    const qint64 startNs = monotonicNowNs();
    const auto writeLine = [&](qint64 ns, const QDateTime& wallClock, const char* direction, const QByteArray& bytes) {
        out << wallClock.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
            << QStringLiteral("  %1 s  ").arg((ns - startNs) / 1e9, 11, 'f', 6) << direction << ' ' << printable(bytes)
            << Qt::endl;
    };
    QObject::connect(&simulator, &Simulator::commandReceived, &app, [&](const ReceivedCommand& command) {
        writeLine(command.monotonicNs, command.wallClock, "received", QByteArray(1, command.command));
    });
    QObject::connect(&simulator, &Simulator::bytesSent, &app, [&](const SentBytes& sent) {
        writeLine(sent.monotonicNs, sent.wallClock, "sent    ", sent.bytes);
    });

    quitOnSignals(app);
    try {
        simulator.start(port, parser.value(QStringLiteral("folder")));
    } catch (const AppError& error) {
        err << "quintara-sim: " << error.message() << "\n";
        return 1;
    }
    err << "quintara-sim: timing device on " << simulator.linkPath() << " -> " << simulator.ptyPath() << Qt::endl;
    const int status = app.exec();
    simulator.stop();
    return status;
}
