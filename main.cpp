#include "data/seed.h"
#include "race/gestione_gare.h"
#include "race/program.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quintara"));
    QApplication::setApplicationVersion(QStringLiteral("2.6"));
    // Closing the race window ends the program, whatever other windows are still shown.
    QApplication::setQuitOnLastWindowClosed(false);
    seedInstallFolder();
    createWindows();
    Gestione_gare->show();
    const int result = QApplication::exec();
    destroyWindows();
    return result;
}
