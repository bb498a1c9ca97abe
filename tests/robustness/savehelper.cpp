// Saves a big table to one path over and over, alternating between its two variants, until it is killed.
//   quintara_savehelper <path> <rows> <first variant 0|1> [saves]
// Prints "saved <n>" after each completed save.
#include "tables/table.h"
#include "tests/robustness/bigtable.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: quintara_savehelper <path> <rows> <first variant 0|1> [saves]\n");
        return 2;
    }
    const QString path = args[1];
    const int rows = args[2].toInt();
    const int first = args[3].toInt() != 0 ? 1 : 0;
    // Bounded, so that a helper whose test died does not run on.
    const int saves = args.size() > 4 ? args[4].toInt() : 100000;

    Table tables[2];
    fillBigTable(tables[0], rows, 0);
    fillBigTable(tables[1], rows, 1);
    try {
        for (int n = 0; n < saves; ++n) {
            tables[(first + n) % 2].saveToFile(path);
            std::printf("saved %d\n", n + 1);
            std::fflush(stdout);
        }
    } catch (const AppError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
