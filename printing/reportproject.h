#pragma once

#include "printing/reportlayout.h"

#include <QObject>
#include <QString>

#include <memory>

class DataConnection;
class ReportDocument;

// A report project: a project file, loaded on the first run and kept from then on, whose report is
// run over the data connection it names. The connection is looked up by name among the objects
// owned by the project's parent (the window that holds both).
class ReportProject : public QObject
{
    Q_OBJECT
public:
    ReportProject(const QString& name, const QString& projectFile, QObject* parent = nullptr);
    ~ReportProject() override;

    QString projectFile() const { return m_projectFile; }
    bool isLoaded() const { return m_layout != nullptr; }

    // Runs the report. With an output PDF set (setOutputPdf()) the report is written there and nothing
    // is returned; otherwise the laid-out document is returned for the caller to preview and print.
    // Raises AppError when the project file is missing or faulty, or when the data cannot be read;
    // nothing is output then.
    std::shared_ptr<const ReportDocument> Execute();

    // Runs the report into a PDF file instead; returns the page count.
    int renderToPdf(const QString& path);

    // While set, every Execute() writes its report to this PDF file instead of opening the preview
    // (tests, batch printing). An empty path restores the preview.
    static void setOutputPdf(const QString& path);
    static QString outputPdf();

    // "The following reporting project does not exist:" and the path.
    static QString missingProjectMessage(const QString& path);

private:
    ReportDocument prepare();
    const ReportLayout& layout();
    DataConnection* connection(const QString& name) const;

    QString m_projectFile;
    std::unique_ptr<ReportLayout> m_layout;
};
