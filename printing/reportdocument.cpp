#include "printing/reportdocument.h"

#include "printing/logging.h"
#include "tables/error.h"

#include <QFile>
#include <QFontMetricsF>
#include <QHash>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>

namespace {

constexpr double mmPerInch = 25.4;
// Shown after a group heading repeated at the top of a page.
const QString continuedMark = QStringLiteral(" (segue)");

const QColor textColor(0x1a, 0x1a, 0x1a);
const QColor secondaryColor(0x55, 0x5b, 0x63);
const QColor ruleColor(0x2b, 0x2f, 0x36);
const QColor headerFill(0xe3, 0xe8, 0xef);
const QColor stripeFill(0xf5, 0xf7, 0xf9);
const QColor separatorColor(0xd3, 0xd8, 0xde);

enum class LineKind { GroupHeading, ColumnHeader, Row, Empty };

struct Line
{
    LineKind kind;
    int group = -1;
    int row = -1;   // index into the report's rows
    int number = 0; // 1-based place of the row within its group
    bool continued = false;
    double top = 0;
};

// Sizes in device pixels, from the device's resolution and the layout's font size.
struct Metrics
{
    double mm = 1;
    double width = 0;
    double height = 0;
    QFont body;
    QFont title;
    QFont band;
    QFont heading;
    QFont columnHeader;
    double bandHeight = 0;
    double footerHeight = 0;
    double bodyTop = 0;
    double bodyBottom = 0;
    double rowHeight = 0;
    double columnHeaderHeight = 0;
    double headingHeight = 0;
    double groupGap = 0;
    double padding = 0;
    QList<double> columnLeft;
    QList<double> columnWidth;
};

QFont makeFont(const QString& family, double points, bool bold)
{
    QFont font;
    font.setFamily(family.isEmpty() ? QStringLiteral("Sans Serif") : family);
    // Ligatures would reach the PDF's text as single glyphs ("fi"), which search and copy do not match.
    font.setStyleHint(QFont::SansSerif, QFont::PreferNoShaping);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

Metrics measure(const ReportLayout& layout, const QPagedPaintDevice& device)
{
    Metrics m;
    m.mm = device.logicalDpiY() / mmPerInch;
    m.width = device.width();
    m.height = device.height();
    const double size = layout.fontSize;
    m.body = makeFont(layout.fontFamily, size, false);
    m.title = makeFont(layout.fontFamily, size * 1.6, true);
    m.band = makeFont(layout.fontFamily, size * 0.85, false);
    m.heading = makeFont(layout.fontFamily, size * 1.2, true);
    m.columnHeader = makeFont(layout.fontFamily, size * 0.9, true);

    auto lineHeight = [&device](const QFont& font) { return QFontMetricsF(font, &device).height(); };
    m.padding = 1.8 * m.mm;
    m.bandHeight = lineHeight(m.title) * 1.25;
    m.footerHeight = lineHeight(m.band) * 1.8;
    m.bodyTop = m.bandHeight + 6 * m.mm;
    m.bodyBottom = m.height - m.footerHeight - 3 * m.mm;
    m.rowHeight = lineHeight(m.body) * 1.6;
    m.columnHeaderHeight = lineHeight(m.columnHeader) * 1.8;
    m.headingHeight = lineHeight(m.heading) * 1.6;
    m.groupGap = 4 * m.mm;

    double total = 0;
    for (const ReportColumn& c : layout.columns)
        total += c.width;
    double left = 0;
    for (const ReportColumn& c : layout.columns) {
        const double w = m.width * c.width / total;
        m.columnLeft.append(left);
        m.columnWidth.append(w);
        left += w;
    }
    return m;
}

QString expand(QString text, const ReportDocument& document, int page, int pages)
{
    text.replace(QLatin1String("{title}"), document.layout().title);
    text.replace(QLatin1String("{date}"), document.date().toString(QStringLiteral("dd/MM/yyyy")));
    text.replace(QLatin1String("{page}"), QString::number(page));
    text.replace(QLatin1String("{pages}"), QString::number(pages));
    return text;
}

bool numeric(FieldType type)
{
    return type != FieldType::String;
}

bool emptyKey(const QVariant& value)
{
    return !value.isValid() || (value.typeId() == QMetaType::QString && value.toString().isEmpty());
}

// Empty values come last, whatever the order.
int compareKeys(const QVariant& a, const QVariant& b, FieldType type)
{
    if (emptyKey(a) || emptyKey(b))
        return int(emptyKey(a)) - int(emptyKey(b));
    if (numeric(type)) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const QString x = a.toString();
    const QString y = b.toString();
    const int folded = x.compare(y, Qt::CaseInsensitive);
    return folded != 0 ? folded : x.compare(y);
}

QString keyText(const QVariant& value, FieldType type)
{
    if (emptyKey(value))
        return QString();
    return numeric(type) ? QString::number(value.toDouble(), 'g', 17) : QLatin1Char('s') + value.toString();
}

} // namespace

ReportDocument::ReportDocument(ReportLayout layout, ReportData data, QDate date)
    : m_layout(std::move(layout)), m_data(std::move(data)), m_date(date)
{
    for (const ReportColumn& c : m_layout.columns)
        m_columnFields.append(c.kind == ReportColumn::Kind::Field ? m_data.fieldIndex(c.field) : -1);
    if (m_layout.group.isSet())
        m_groupField = m_data.fieldIndex(m_layout.group.field);
}

QList<ReportDocument::Group> ReportDocument::groups() const
{
    QList<Group> result;
    if (m_groupField < 0) {
        Group all;
        for (int r = 0; r < m_data.rows.size(); ++r)
            all.rows.append(r);
        if (!all.rows.isEmpty())
            result.append(all);
        return result;
    }
    // Rows keep the table's order within their group, wherever the table puts them.
    const FieldType type = m_data.fields[m_groupField].type;
    QHash<QString, qsizetype> index;
    for (int r = 0; r < m_data.rows.size(); ++r) {
        const QVariant& key = m_data.rows[r][m_groupField];
        const QString text = keyText(key, type);
        auto it = index.find(text);
        if (it == index.end()) {
            it = index.insert(text, result.size());
            result.append(Group{key, {}});
        }
        result[*it].rows.append(r);
    }
    const ReportGroup::Order order = m_layout.group.order;
    if (order != ReportGroup::Order::Appearance) {
        std::stable_sort(result.begin(), result.end(), [type, order](const Group& a, const Group& b) {
            if (emptyKey(a.key) || emptyKey(b.key))
                return compareKeys(a.key, b.key, type) < 0;
            const int c = compareKeys(a.key, b.key, type);
            return order == ReportGroup::Order::Ascending ? c < 0 : c > 0;
        });
    }
    return result;
}

QString ReportDocument::groupHeading(const Group& group) const
{
    const QString value = Table::displayText(group.key, m_data.fields[m_groupField].type);
    if (m_layout.group.caption.isEmpty())
        return m_layout.group.field + QStringLiteral(": ") + value;
    QString heading = m_layout.group.caption;
    return heading.replace(QLatin1String("%1"), value);
}

QString ReportDocument::cellText(int column, int row, int number) const
{
    if (m_layout.columns[column].kind == ReportColumn::Kind::Counter)
        return QString::number(number);
    const int f = m_columnFields[column];
    return f < 0 ? QString() : Table::displayText(m_data.rows[row][f], m_data.fields[f].type);
}

int ReportDocument::paint(QPagedPaintDevice& device) const
{
    QPainter painter;
    if (!painter.begin(&device))
        throw AppError(QStringLiteral("Cannot print the report \"%1\"").arg(m_layout.title));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const Metrics m = measure(m_layout, device);
    const QList<Group> groupList = groups();
    const bool grouped = m_groupField >= 0;

    // Pass 1: lay the lines out in pages, so that each page knows the page count.
    QList<QList<Line>> pages(1);
    double y = m.bodyTop;
    auto height = [&m](LineKind kind) {
        switch (kind) {
        case LineKind::GroupHeading:
            return m.headingHeight;
        case LineKind::ColumnHeader:
            return m.columnHeaderHeight;
        case LineKind::Row:
        case LineKind::Empty:
            return m.rowHeight;
        }
        return m.rowHeight;
    };
    auto place = [&](Line line) {
        line.top = y;
        pages.last().append(line);
        y += height(line.kind);
    };
    auto newPage = [&] {
        pages.append(QList<Line>());
        y = m.bodyTop;
    };

    if (groupList.isEmpty()) {
        place(Line{LineKind::ColumnHeader});
        if (!m_layout.emptyText.isEmpty())
            place(Line{LineKind::Empty});
    }
    for (int g = 0; g < groupList.size(); ++g) {
        if (grouped) {
            // A heading never stays alone at the foot of a page: it keeps its column titles and a first row.
            const double gap = y > m.bodyTop ? m.groupGap : 0;
            if (y > m.bodyTop && y + gap + m.headingHeight + m.columnHeaderHeight + m.rowHeight > m.bodyBottom)
                newPage();
            else
                y += gap;
            place(Line{LineKind::GroupHeading, g});
            place(Line{LineKind::ColumnHeader, g});
        } else {
            place(Line{LineKind::ColumnHeader});
        }
        const QList<int>& rows = groupList[g].rows;
        for (int i = 0; i < rows.size(); ++i) {
            if (y + m.rowHeight > m.bodyBottom) {
                newPage();
                if (grouped)
                    place(Line{LineKind::GroupHeading, g, -1, 0, true});
                place(Line{LineKind::ColumnHeader, g});
            }
            place(Line{LineKind::Row, g, rows[i], i + 1});
        }
    }

    // Pass 2: paint.
    const int pageCount = int(pages.size());
    for (int p = 0; p < pageCount; ++p) {
        if (p > 0 && !device.newPage())
            throw AppError(QStringLiteral("Cannot start page %1 of the report \"%2\"").arg(p + 1).arg(m_layout.title));

        // Running header: the left text as the page's title, the others smaller, on one baseline.
        const QRectF band(0, 0, m.width, m.bandHeight);
        painter.setPen(textColor);
        painter.setFont(m.title);
        painter.drawText(band, Qt::AlignLeft | Qt::AlignBottom, expand(m_layout.header.left, *this, p + 1, pageCount));
        painter.setFont(m.band);
        painter.setPen(secondaryColor);
        const double descentGap = QFontMetricsF(m.title, &device).descent() - QFontMetricsF(m.band, &device).descent();
        const QRectF smallBand = band.adjusted(0, 0, 0, -descentGap);
        painter.drawText(smallBand, Qt::AlignHCenter | Qt::AlignBottom,
                         expand(m_layout.header.center, *this, p + 1, pageCount));
        painter.drawText(smallBand, Qt::AlignRight | Qt::AlignBottom,
                         expand(m_layout.header.right, *this, p + 1, pageCount));
        painter.setPen(QPen(ruleColor, 0.45 * m.mm));
        const double ruleY = m.bandHeight + 1.5 * m.mm;
        painter.drawLine(QPointF(0, ruleY), QPointF(m.width, ruleY));

        // Running footer.
        const double footerTop = m.height - m.footerHeight;
        painter.setPen(QPen(separatorColor.darker(130), 0.25 * m.mm));
        painter.drawLine(QPointF(0, footerTop), QPointF(m.width, footerTop));
        painter.setPen(secondaryColor);
        painter.setFont(m.band);
        const QRectF footer(0, footerTop, m.width, m.footerHeight);
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignBottom,
                         expand(m_layout.footer.left, *this, p + 1, pageCount));
        painter.drawText(footer, Qt::AlignHCenter | Qt::AlignBottom,
                         expand(m_layout.footer.center, *this, p + 1, pageCount));
        painter.drawText(footer, Qt::AlignRight | Qt::AlignBottom,
                         expand(m_layout.footer.right, *this, p + 1, pageCount));

        for (const Line& line : pages[p]) {
            switch (line.kind) {
            case LineKind::GroupHeading: {
                QString text = groupHeading(groupList[line.group]);
                if (line.continued)
                    text += continuedMark;
                painter.setFont(m.heading);
                painter.setPen(textColor);
                painter.drawText(QRectF(0, line.top, m.width, m.headingHeight - 0.8 * m.mm),
                                 Qt::AlignLeft | Qt::AlignBottom, text);
                break;
            }
            case LineKind::ColumnHeader: {
                const QRectF rect(0, line.top, m.width, m.columnHeaderHeight);
                painter.fillRect(rect, headerFill);
                painter.setPen(QPen(ruleColor, 0.3 * m.mm));
                painter.drawLine(rect.bottomLeft(), rect.bottomRight());
                painter.setFont(m.columnHeader);
                painter.setPen(textColor);
                const QFontMetricsF metrics(m.columnHeader, &device);
                for (int c = 0; c < m_layout.columns.size(); ++c) {
                    const QRectF cell(m.columnLeft[c] + m.padding, line.top, m.columnWidth[c] - 2 * m.padding,
                                      m.columnHeaderHeight);
                    painter.drawText(cell, int(m_layout.columns[c].alignment | Qt::AlignVCenter),
                                     metrics.elidedText(m_layout.columns[c].caption, Qt::ElideRight, cell.width()));
                }
                break;
            }
            case LineKind::Row: {
                const QRectF rect(0, line.top, m.width, m.rowHeight);
                if (line.number % 2 == 0)
                    painter.fillRect(rect, stripeFill);
                painter.setPen(QPen(separatorColor, 0.15 * m.mm));
                painter.drawLine(rect.bottomLeft(), rect.bottomRight());
                painter.setFont(m.body);
                painter.setPen(textColor);
                const QFontMetricsF metrics(m.body, &device);
                for (int c = 0; c < m_layout.columns.size(); ++c) {
                    const QRectF cell(m.columnLeft[c] + m.padding, line.top, m.columnWidth[c] - 2 * m.padding,
                                      m.rowHeight);
                    const QString text = cellText(c, line.row, line.number);
                    painter.drawText(cell, int(m_layout.columns[c].alignment | Qt::AlignVCenter),
                                     metrics.elidedText(text, Qt::ElideRight, cell.width()));
                }
                break;
            }
            case LineKind::Empty:
                painter.setFont(m.body);
                painter.setPen(secondaryColor);
                painter.drawText(QRectF(m.padding, line.top, m.width - 2 * m.padding, m.rowHeight),
                                 Qt::AlignLeft | Qt::AlignVCenter, m_layout.emptyText);
                break;
            }
        }
    }
    painter.end();
    qCDebug(lcPrinting) << "report" << m_layout.title << m_data.rows.size() << "rows" << pageCount << "pages";
    return pageCount;
}

int ReportDocument::writePdf(const QString& path) const
{
    {
        // QPdfWriter would only say that painting failed.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            throw IoError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    }
    QPdfWriter writer(path);
    writer.setPageLayout(m_layout.page);
    writer.setTitle(m_layout.title);
    writer.setCreator(QStringLiteral("Quintara"));
    return paint(writer);
}
