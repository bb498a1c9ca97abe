#include "printing/reportlayout.h"

#include "tables/error.h"

#include <QFile>
#include <QRectF>
#include <QSet>
#include <QXmlStreamReader>

#include <map>

namespace {

const QString defaultHeaderLeft = QStringLiteral("{title}");
const QString defaultHeaderRight = QStringLiteral("{date}");
const QString defaultFooterRight = QStringLiteral("Pagina {page} di {pages}");
constexpr double defaultMarginMm = 15;

class Parser
{
public:
    Parser(QIODevice& device, const QString& source) : m_xml(&device), m_source(source) {}

    ReportLayout run()
    {
        m_layout.page = QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                    QMarginsF(defaultMarginMm, defaultMarginMm, defaultMarginMm, defaultMarginMm),
                                    QPageLayout::Millimeter);
        m_layout.header = {defaultHeaderLeft, QString(), defaultHeaderRight};
        m_layout.footer = {QString(), QString(), defaultFooterRight};

        if (!m_xml.readNextStartElement())
            failXml(QStringLiteral("no <report> element"));
        if (m_xml.name() != QLatin1String("report"))
            fail(QStringLiteral("the root element is <%1>, not <report>").arg(m_xml.name()));
        checkAttributes({QStringLiteral("version"), QStringLiteral("connection")});
        const QString version = m_xml.attributes().value(QLatin1String("version")).toString();
        if (!version.isEmpty() && version != QLatin1String("1"))
            fail(QStringLiteral("unsupported version \"%1\"").arg(version));
        m_layout.connection = required(QStringLiteral("connection"));

        QSet<QString> seen;
        while (m_xml.readNextStartElement()) {
            const QString name = m_xml.name().toString();
            if (name != QLatin1String("columns") && seen.contains(name))
                fail(QStringLiteral("<%1> given twice").arg(name));
            seen.insert(name);
            if (name == QLatin1String("title"))
                m_layout.title = text();
            else if (name == QLatin1String("page"))
                readPage();
            else if (name == QLatin1String("font"))
                readFont();
            else if (name == QLatin1String("header"))
                m_layout.header = readBand();
            else if (name == QLatin1String("footer"))
                m_layout.footer = readBand();
            else if (name == QLatin1String("group"))
                readGroup();
            else if (name == QLatin1String("columns"))
                readColumns();
            else if (name == QLatin1String("empty"))
                m_layout.emptyText = text();
            else
                fail(QStringLiteral("unknown element <%1>").arg(name));
        }
        while (!m_xml.atEnd())
            m_xml.readNext();
        if (m_xml.hasError())
            failXml(m_xml.errorString());
        if (m_layout.columns.isEmpty())
            fail(QStringLiteral("the report has no columns"));
        return m_layout;
    }

private:
    [[noreturn]] void fail(const QString& what) const
    {
        throw AppError(QStringLiteral("Report project \"%1\", line %2: %3")
                           .arg(m_source, QString::number(m_xml.lineNumber()), what));
    }

    [[noreturn]] void failXml(const QString& fallback) const
    {
        fail(m_xml.hasError() ? m_xml.errorString() : fallback);
    }

    // A misspelt attribute would otherwise be dropped without a word.
    void checkAttributes(const QStringList& allowed) const
    {
        for (const QXmlStreamAttribute& a : m_xml.attributes()) {
            if (!allowed.contains(a.name().toString()))
                fail(QStringLiteral("<%1> has no attribute \"%2\"").arg(m_xml.name(), a.name()));
        }
    }

    QString attribute(const QString& name) const { return m_xml.attributes().value(name).toString(); }

    QString required(const QString& name) const
    {
        const QString value = attribute(name).trimmed();
        if (value.isEmpty())
            fail(QStringLiteral("<%1> needs the attribute \"%2\"").arg(m_xml.name(), name));
        return value;
    }

    double number(const QString& text, const QString& what, double min, double max) const
    {
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        if (!ok || value < min || value > max)
            fail(QStringLiteral("%1 \"%2\" is not a number from %3 to %4").arg(what, text).arg(min).arg(max));
        return value;
    }

    template <typename T> T choice(const QString& name, const std::map<QString, T>& choices, T fallback) const
    {
        const QString value = attribute(name).trimmed().toLower();
        if (value.isEmpty())
            return fallback;
        const auto it = choices.find(value);
        if (it == choices.end()) {
            QStringList names;
            for (const auto& c : choices)
                names.append(c.first);
            fail(QStringLiteral("%1 \"%2\" is not one of %3").arg(name, value, names.join(QStringLiteral(", "))));
        }
        return it->second;
    }

    // The element holds no elements of its own.
    void leaf()
    {
        const QString name = m_xml.name().toString();
        if (m_xml.readNextStartElement())
            fail(QStringLiteral("unexpected element <%1> inside <%2>").arg(m_xml.name(), name));
    }

    QString text()
    {
        checkAttributes({});
        const QString value = m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (m_xml.hasError())
            failXml(QString());
        return value.trimmed();
    }

    void readPage()
    {
        checkAttributes({QStringLiteral("size"), QStringLiteral("orientation"), QStringLiteral("margins")});
        const QPageSize::PageSizeId size = choice<QPageSize::PageSizeId>(QStringLiteral("size"),
                                                                         {{QStringLiteral("a3"), QPageSize::A3},
                                                                          {QStringLiteral("a4"), QPageSize::A4},
                                                                          {QStringLiteral("a5"), QPageSize::A5},
                                                                          {QStringLiteral("letter"), QPageSize::Letter},
                                                                          {QStringLiteral("legal"), QPageSize::Legal}},
                                                                         QPageSize::A4);
        const QPageLayout::Orientation orientation =
            choice<QPageLayout::Orientation>(QStringLiteral("orientation"),
                                             {{QStringLiteral("portrait"), QPageLayout::Portrait},
                                              {QStringLiteral("landscape"), QPageLayout::Landscape}},
                                             QPageLayout::Portrait);
        QMarginsF margins(defaultMarginMm, defaultMarginMm, defaultMarginMm, defaultMarginMm);
        const QString marginText = attribute(QStringLiteral("margins")).simplified();
        if (!marginText.isEmpty()) {
            QList<double> values;
            for (const QString& part : marginText.split(QLatin1Char(' ')))
                values.append(number(part, QStringLiteral("margin"), 0, 100));
            if (values.size() == 1)
                margins = QMarginsF(values[0], values[0], values[0], values[0]);
            else if (values.size() == 4)
                margins = QMarginsF(values[0], values[1], values[2], values[3]);
            else
                fail(QStringLiteral("margins takes one value or four (left top right bottom), not \"%1\"")
                         .arg(marginText));
        }
        m_layout.page = QPageLayout(QPageSize(size), orientation, QMarginsF(), QPageLayout::Millimeter);
        // Margins wider than the sheet would leave no room to print.
        const QSizeF sheet = m_layout.page.fullRect(QPageLayout::Millimeter).size();
        if (margins.left() + margins.right() > sheet.width() / 2 ||
            margins.top() + margins.bottom() > sheet.height() / 2)
            fail(QStringLiteral("the margins leave too little of the page"));
        m_layout.page.setMargins(margins);
        leaf();
    }

    void readFont()
    {
        checkAttributes({QStringLiteral("family"), QStringLiteral("size")});
        m_layout.fontFamily = attribute(QStringLiteral("family")).trimmed();
        const QString size = attribute(QStringLiteral("size"));
        if (!size.isEmpty())
            m_layout.fontSize = number(size, QStringLiteral("font size"), 5, 24);
        leaf();
    }

    ReportBand readBand()
    {
        checkAttributes({QStringLiteral("left"), QStringLiteral("center"), QStringLiteral("right")});
        ReportBand band{attribute(QStringLiteral("left")), attribute(QStringLiteral("center")),
                        attribute(QStringLiteral("right"))};
        leaf();
        return band;
    }

    void readGroup()
    {
        checkAttributes({QStringLiteral("field"), QStringLiteral("caption"), QStringLiteral("order")});
        m_layout.group.field = required(QStringLiteral("field"));
        m_layout.group.caption = attribute(QStringLiteral("caption"));
        m_layout.group.order =
            choice<ReportGroup::Order>(QStringLiteral("order"),
                                       {{QStringLiteral("ascending"), ReportGroup::Order::Ascending},
                                        {QStringLiteral("descending"), ReportGroup::Order::Descending},
                                        {QStringLiteral("appearance"), ReportGroup::Order::Appearance}},
                                       ReportGroup::Order::Ascending);
        leaf();
    }

    void readColumns()
    {
        checkAttributes({});
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() != QLatin1String("column"))
                fail(QStringLiteral("unknown element <%1> inside <columns>").arg(m_xml.name()));
            checkAttributes({QStringLiteral("field"), QStringLiteral("counter"), QStringLiteral("caption"),
                             QStringLiteral("width"), QStringLiteral("align")});
            ReportColumn column;
            column.field = attribute(QStringLiteral("field")).trimmed();
            const bool counter = choice<bool>(
                QStringLiteral("counter"), {{QStringLiteral("true"), true}, {QStringLiteral("false"), false}}, false);
            if (counter == !column.field.isEmpty())
                fail(QStringLiteral("a <column> names a field or is a counter, one of the two"));
            column.kind = counter ? ReportColumn::Kind::Counter : ReportColumn::Kind::Field;
            column.caption = attribute(QStringLiteral("caption"));
            const QString width = attribute(QStringLiteral("width"));
            if (!width.isEmpty())
                column.width = number(width, QStringLiteral("width"), 0.1, 1000);
            column.alignment = choice<Qt::Alignment>(QStringLiteral("align"),
                                                     {{QStringLiteral("left"), Qt::AlignLeft},
                                                      {QStringLiteral("center"), Qt::AlignHCenter},
                                                      {QStringLiteral("right"), Qt::AlignRight}},
                                                     Qt::AlignLeft);
            leaf();
            m_layout.columns.append(column);
        }
    }

    QXmlStreamReader m_xml;
    QString m_source;
    ReportLayout m_layout;
};

} // namespace

QStringList ReportLayout::fieldNames() const
{
    QStringList names;
    auto add = [&names](const QString& name) {
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names.append(name);
    };
    add(group.field);
    for (const ReportColumn& c : columns)
        add(c.field);
    return names;
}

ReportLayout ReportLayout::parse(QIODevice& device, const QString& source)
{
    return Parser(device, source).run();
}

ReportLayout ReportLayout::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open the report project \"%1\": %2").arg(path, file.errorString()));
    return parse(file, path);
}
