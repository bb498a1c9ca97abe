#pragma once

#include <QList>
#include <QPageLayout>
#include <QString>
#include <QStringList>

class QIODevice;

// A column of a report: a field of the connected table, or the running number of the row within its
// group (within the report when it is not grouped).
struct ReportColumn
{
    enum class Kind { Field, Counter };

    Kind kind = Kind::Field;
    QString field;
    QString caption;
    double width = 1; // share of the line, relative to the other columns
    Qt::Alignment alignment = Qt::AlignLeft;
};

struct ReportGroup
{
    enum class Order { Ascending, Descending, Appearance };

    QString field;   // empty: the rows are not grouped
    QString caption; // the group heading; "%1" stands for the group's value
    Order order = Order::Ascending;

    bool isSet() const { return !field.isEmpty(); }
};

// A running header or footer: a text at the left, the centre and the right of the page. "{title}",
// "{date}", "{page}" and "{pages}" are replaced when the page is painted.
struct ReportBand
{
    QString left;
    QString center;
    QString right;
};

// The contents of a report project file (format in printing/README.md).
struct ReportLayout
{
    QString connection; // name of the data connection that feeds the report
    QString title;
    QPageLayout page;
    QString fontFamily;   // empty: the system's sans-serif face
    double fontSize = 10; // points, for the rows; headings are scaled from it
    ReportGroup group;
    QList<ReportColumn> columns;
    ReportBand header;
    ReportBand footer;
    QString emptyText; // printed instead of rows when the table has none

    // The fields the report reads from its connection: the group field, then the columns' fields.
    QStringList fieldNames() const;

    // Raise AppError naming the file, the line and what is wrong.
    static ReportLayout parse(QIODevice& device, const QString& source);
    static ReportLayout load(const QString& path);
};
