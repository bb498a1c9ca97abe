#pragma once

#include "printing/reportdata.h"
#include "printing/reportlayout.h"

#include <QDate>

class QPagedPaintDevice;

// One run of a report: its layout, the rows read for it and the meeting's date. Lays the rows out in
// pages and paints them on whatever paged device it is given (a printer, a PDF writer).
class ReportDocument
{
public:
    ReportDocument(ReportLayout layout, ReportData data, QDate date);

    const ReportLayout& layout() const { return m_layout; }
    const ReportData& data() const { return m_data; }
    QDate date() const { return m_date; }

    // Paints every page on `device`, whose page layout the caller has chosen; returns the page count.
    // Raises AppError when the device cannot be painted on.
    int paint(QPagedPaintDevice& device) const;

    // Writes the report to a PDF file on the layout's page. Raises IoError when the file cannot be written.
    int writePdf(const QString& path) const;

private:
    struct Group
    {
        QVariant key;
        QList<int> rows; // indexes into m_data.rows, in the table's order
    };
    QList<Group> groups() const;
    QString groupHeading(const Group& group) const;
    QString cellText(int column, int row, int number) const;

    ReportLayout m_layout;
    ReportData m_data;
    QDate m_date;
    QList<int> m_columnFields; // per column: index into m_data.fields, -1 for a counter
    int m_groupField = -1;
};
