#include "printing/reportpreview.h"

#include "printing/reportdocument.h"
#include "widgets/guard.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPrinter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QToolBar>

QWidget* showReportPreview(std::shared_ptr<const ReportDocument> document, QWidget* parent)
{
    auto* dialog = new QPrintPreviewDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("ReportPreview"));
    const QString title = document->layout().title;
    dialog->setWindowTitle(QStringLiteral("Anteprima di stampa - ") + title);

    QPrinter* printer = dialog->printer();
    printer->setPageLayout(document->layout().page);
    printer->setDocName(title);
    printer->setCreator(QStringLiteral("Quintara"));
    QObject::connect(dialog, &QPrintPreviewDialog::paintRequested, dialog,
                     [document](QPrinter* target) { guard([&] { document->paint(*target); }); });

    if (auto* toolBar = dialog->findChild<QToolBar*>()) {
        toolBar->addSeparator();
        QAction* save = toolBar->addAction(dialog->style()->standardIcon(QStyle::SP_DialogSaveButton),
                                           QStringLiteral("Salva come PDF"));
        save->setObjectName(QStringLiteral("SalvaPdf"));
        QObject::connect(save, &QAction::triggered, dialog, [dialog, document, title] {
            const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
            const QString path = QFileDialog::getSaveFileName(dialog, QStringLiteral("Salva come PDF"),
                                                              QDir(folder).filePath(title + QStringLiteral(".pdf")),
                                                              QStringLiteral("Documenti PDF (*.pdf)"));
            if (!path.isEmpty())
                guard([&] { document->writePdf(path); });
        });
    }

    // A whole A4 page in view, as far as the screen allows.
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        dialog->resize(qMin(available.width(), 900), int(available.height() * 0.9));
    }
    if (auto* view = dialog->findChild<QPrintPreviewWidget*>())
        view->fitToWidth();
    dialog->show();
    return dialog;
}
