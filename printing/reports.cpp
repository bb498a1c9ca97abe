// Printing and help, as seen from the race window.
#include "printing/reports.h"

#include "printing/dataconnection.h"
#include "printing/help.h"
#include "printing/reportpreview.h"
#include "printing/reportproject.h"
#include "race/gestione_gare.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "widgets/guard.h"

#include <QAction>

void TGestione_gare::createReports()
{
    RvDataSetConnection1 = new DataConnection(QStringLiteral("RvDataSetConnection1"), CDS_Finali, this);
    RvDataSetConnection2 = new DataConnection(QStringLiteral("RvDataSetConnection2"), CDS_Batterie, this);
    RvDataSetConnection3 = new DataConnection(QStringLiteral("RvDataSetConnection3"), CDS_Gara, this);

    // Fixed paths: the projects stay in the installation folder wherever the program and its tables are.
    const QString folder = paths::installFolder();
    RvProj_Batterie = new ReportProject(QStringLiteral("RvProj_Batterie"), folder + reports::heatsProject, this);
    RvProj_Qualifiche =
        new ReportProject(QStringLiteral("RvProj_Qualifiche"), folder + reports::qualificationProject, this);
    RvProj_Finali = new ReportProject(QStringLiteral("RvProj_Finali"), folder + reports::finalsProject, this);

    connectHandler(StampaBatterie1, &QAction::triggered, this, &TGestione_gare::Stampabatterie1Click);
    connectHandler(Stampaqualifiche1, &QAction::triggered, this, &TGestione_gare::Stampaqualifiche1Click);
    connectHandler(Stampareportfinali1, &QAction::triggered, this, &TGestione_gare::Stampareportfinali1Click);
    connectHandler(Help2, &QAction::triggered, this, &TGestione_gare::Help2Click);
}

namespace {

// Runs a report and previews it in a window of the race window, unless it went to a PDF file.
void runReport(ReportProject* project, QWidget* parent)
{
    if (auto document = project->Execute())
        showReportPreview(std::move(document), parent);
}

} // namespace

void TGestione_gare::Stampabatterie1Click()
{
    runReport(RvProj_Batterie, this);
}

void TGestione_gare::Stampaqualifiche1Click()
{
    runReport(RvProj_Qualifiche, this);
}

void TGestione_gare::Stampareportfinali1Click()
{
    if (CDS_Finali->isOpen())
        runReport(RvProj_Finali, this);
}

void TGestione_gare::Help2Click()
{
    help::open(QUrl::fromLocalFile(paths::installFile(help::manualFile)));
}
