#pragma once

#include <memory>

class QWidget;
class ReportDocument;

// Opens a print preview window over the document, from which it is printed or saved as PDF, and
// returns at once. The window deletes itself when closed.
QWidget* showReportPreview(std::shared_ptr<const ReportDocument> document, QWidget* parent);
