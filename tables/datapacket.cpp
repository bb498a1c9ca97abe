#include "tables/datapacket.h"

#include <QXmlStreamReader>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 msPerDay = 86400000;

[[noreturn]] void refuse(const QString& what)
{
    throw EngineError(QStringLiteral("Invalid datapacket: %1").arg(what));
}

// ---- Encoding ----

// Bytes 0x80-0x9F of Windows-1252; the five unassigned ones map to the C1 controls, as Windows does.
constexpr char16_t cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// By hand: a Windows-1252 codec is not available in every Qt build.
QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b <= 0x9F) ? cp1252High[b - 0x80] : char16_t(b);
    }
    return text;
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Runs of ASCII, eight bytes at a time: nearly all of a table file.
        while (end - p >= 8) {
            quint64 chunk;
            std::memcpy(&chunk, p, 8);
            if (chunk & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

bool declaresUtf8(QByteArrayView bytes)
{
    if (!bytes.startsWith("<?xml"))
        return false;
    const qsizetype close = bytes.indexOf("?>");
    if (close < 0)
        return false;
    const QByteArray decl = bytes.first(close).toByteArray().toLower();
    const qsizetype at = decl.indexOf("encoding");
    if (at < 0)
        return false;
    qsizetype i = decl.indexOf('=', at);
    if (i < 0)
        return false;
    ++i;
    while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t'))
        ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\''))
        return false;
    const qsizetype endQuote = decl.indexOf(decl[i], i + 1);
    const QByteArray name = decl.mid(i + 1, endQuote - i - 1).trimmed();
    return name == "utf-8" || name == "utf8";
}

// An old engine build wrote an end tag </PARAMS> without a start tag. Such a file is not well-formed,
// so the stray tag is blanked out before parsing (within the metadata, where no raw '<' can occur in values).
void blankStrayParamsEnd(QByteArray& bytes)
{
    qsizetype limit = bytes.indexOf("<ROWDATA");
    if (limit < 0)
        limit = bytes.size();
    int open = 0;
    qsizetype pos = 0;
    while ((pos = bytes.indexOf("PARAMS", pos)) >= 0 && pos < limit) {
        const qsizetype tagStart = pos - 1;
        const bool isEnd = tagStart >= 1 && bytes.at(tagStart) == '/' && bytes.at(tagStart - 1) == '<';
        const bool isStart = tagStart >= 0 && bytes.at(tagStart) == '<';
        const qsizetype after = pos + 6;
        pos = after;
        if (!isStart && !isEnd)
            continue;
        if (after < bytes.size() && !QChar::isSpace(uchar(bytes.at(after))) && bytes.at(after) != '>' &&
            bytes.at(after) != '/')
            continue; // <PARAMSX
        const qsizetype close = bytes.indexOf('>', after);
        if (close < 0)
            return;
        if (isStart) {
            if (bytes.at(close - 1) != '/')
                ++open;
        } else if (open > 0) {
            --open;
        } else {
            for (qsizetype i = tagStart - 1; i <= close; ++i)
                bytes[i] = ' ';
        }
        pos = close + 1;
    }
}

// ---- Values ----

bool sameName(QStringView a, QLatin1StringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool typeFromName(QStringView name, FieldType& type)
{
    static const char* const integers[] = {"i1", "i2", "i4", "i8", "ui1", "ui2", "ui4", "ui8"};
    for (const char* n : integers) {
        if (sameName(name, QLatin1StringView(n))) {
            type = FieldType::Integer;
            return true;
        }
    }
    if (sameName(name, QLatin1StringView("r4")) || sameName(name, QLatin1StringView("r8")) ||
        sameName(name, QLatin1StringView("r10"))) {
        type = FieldType::Float;
        return true;
    }
    if (sameName(name, QLatin1StringView("string")) || sameName(name, QLatin1StringView("string.uni"))) {
        type = FieldType::String;
        return true;
    }
    if (sameName(name, QLatin1StringView("time"))) {
        type = FieldType::Time;
        return true;
    }
    return false;
}

// "HH:MM:SSmmm"; a shorter run of second and millisecond digits is padded on the right.
bool parseTime(QStringView text, qint64& ms)
{
    const qsizetype c1 = text.indexOf(u':');
    const qsizetype c2 = c1 < 0 ? -1 : text.indexOf(u':', c1 + 1);
    if (c2 < 0)
        return false;
    const QStringView hh = text.first(c1);
    const QStringView mm = text.sliced(c1 + 1, c2 - c1 - 1);
    const QStringView run = text.sliced(c2 + 1);
    auto digits = [](QStringView s, qsizetype minLen, qsizetype maxLen, int& value) {
        if (s.size() < minLen || s.size() > maxLen)
            return false;
        value = 0;
        for (const QChar ch : s) {
            if (ch < u'0' || ch > u'9')
                return false;
            value = value * 10 + (ch.unicode() - u'0');
        }
        return true;
    };
    int h, m, sms;
    if (!digits(hh, 1, 2, h) || !digits(mm, 1, 2, m) || !digits(run, 1, 5, sms))
        return false;
    for (qsizetype i = run.size(); i < 5; ++i)
        sms *= 10;
    if (h > 23 || m > 59 || sms > 59999)
        return false;
    ms = (h * 3600LL + m * 60LL) * 1000LL + sms;
    return true;
}

QVariant parseValue(FieldType type, QStringView text, const FieldDef& field, int rowNumber)
{
    if (type == FieldType::String)
        return text.toString();
    text = text.trimmed();
    if (text.isEmpty())
        return {};
    auto bad = [&](const char* kind) {
        refuse(QStringLiteral("'%1' is not a valid %2 value (field '%3', row %4)")
                   .arg(text.toString(), QLatin1StringView(kind), field.name)
                   .arg(rowNumber));
    };
    switch (type) {
    case FieldType::Integer: {
        // By hand: this runs for every number of every row of a file.
        qsizetype i = 0;
        const bool negative = text[0] == u'-';
        if (negative || text[0] == u'+')
            ++i;
        if (i == text.size() || text.size() - i > 10)
            bad("integer");
        qint64 v = 0;
        for (; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (c < u'0' || c > u'9')
                bad("integer");
            v = v * 10 + (c - u'0');
        }
        if (negative)
            v = -v;
        if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
            bad("integer");
        return int(v);
    }
    case FieldType::Float: {
        char latin1[64];
        if (text.size() >= qsizetype(sizeof latin1))
            bad("floating point");
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (c >= 0x80)
                bad("floating point");
            latin1[i] = char(c);
        }
        double v = 0;
        const char* begin = latin1[0] == '+' ? latin1 + 1 : latin1; // from_chars takes no plus sign
        const char* end = latin1 + text.size();
        const auto result = std::from_chars(begin, end, v);
        if (result.ec != std::errc() || result.ptr != end || !std::isfinite(v))
            bad("floating point");
        return v;
    }
    case FieldType::Time: {
        qint64 ms = 0;
        if (!parseTime(text, ms))
            bad("time");
        return double(ms) / double(msPerDay);
    }
    case FieldType::String:
        break;
    }
    return {};
}

// ---- Reading ----

struct Reader
{
    QXmlStreamReader xml;
    QList<FieldDef> fields;
    QStringList attrNames;
    QList<QVariantList> rows;
    bool haveFields = false;

    [[noreturn]] void xmlError()
    {
        refuse(QStringLiteral("%1 (line %2, column %3)")
                   .arg(xml.errorString())
                   .arg(xml.lineNumber())
                   .arg(xml.columnNumber()));
    }

    void readField()
    {
        QString attrName, fieldName, typeName, width;
        bool hasFieldName = false;
        for (const QXmlStreamAttribute& a : xml.attributes()) {
            const QStringView n = a.name();
            if (sameName(n, QLatin1StringView("attrname"))) {
                attrName = a.value().toString();
            } else if (sameName(n, QLatin1StringView("fieldname"))) {
                fieldName = a.value().toString();
                hasFieldName = true;
            } else if (sameName(n, QLatin1StringView("fieldtype"))) {
                typeName = a.value().toString();
            } else if (sameName(n, QLatin1StringView("width"))) {
                width = a.value().toString();
            }
        }
        if (attrName.isEmpty())
            refuse(QStringLiteral("a FIELD without attrname"));
        FieldDef def;
        def.name = hasFieldName && !fieldName.isEmpty() ? fieldName : attrName;
        if (typeName.isEmpty())
            refuse(QStringLiteral("field '%1' has no fieldtype").arg(def.name));
        if (!typeFromName(typeName, def.type))
            refuse(QStringLiteral("field '%1' has the unsupported type '%2'").arg(def.name, typeName));
        if (def.type == FieldType::String) {
            bool ok = true;
            def.size = width.isEmpty() ? 20 : width.toInt(&ok);
            if (!ok || def.size <= 0)
                refuse(QStringLiteral("field '%1' has the invalid width '%2'").arg(def.name, width));
        }
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (fields[i].name.compare(def.name, Qt::CaseInsensitive) == 0 || attrNames[i] == attrName)
                refuse(QStringLiteral("field '%1' is defined twice").arg(def.name));
        }
        fields.append(def);
        attrNames.append(attrName);
        xml.skipCurrentElement(); // a nested table's own FIELDS, already refused by type
    }

    void readMetadata()
    {
        while (xml.readNextStartElement()) {
            if (sameName(xml.name(), QLatin1StringView("FIELDS"))) {
                while (xml.readNextStartElement()) {
                    if (sameName(xml.name(), QLatin1StringView("FIELD")))
                        readField();
                    else
                        xml.skipCurrentElement();
                }
                haveFields = true;
            } else {
                xml.skipCurrentElement(); // PARAMS with its PARAM children
            }
        }
    }

    void readRow(int recordNumber)
    {
        const qsizetype n = fields.size();
        QVariantList values(n);
        int rowState = 0;
        qsizetype expected = 0; // the engine writes attributes in field order
        const QXmlStreamAttributes attributes = xml.attributes();
        for (const QXmlStreamAttribute& a : attributes) {
            const QStringView name = a.name();
            qsizetype index = -1;
            for (qsizetype k = 0; k < n; ++k) {
                const qsizetype i = (expected + k) % n;
                if (name == attrNames[i]) {
                    index = i;
                    break;
                }
            }
            if (index < 0) {
                if (sameName(name, QLatin1StringView("RowState"))) {
                    bool ok = false;
                    rowState = a.value().toInt(&ok);
                    if (!ok)
                        refuse(QStringLiteral("'%1' is not a valid RowState (row %2)")
                                   .arg(a.value().toString())
                                   .arg(recordNumber));
                }
                continue; // other attributes are not ours to judge
            }
            values[index] = parseValue(fields[index].type, a.value(), fields[index], recordNumber);
            expected = index + 1;
        }
        // Superseded originals, deleted rows and holes stay in a change log only for undo.
        if ((rowState & 35) == 0)
            rows.append(std::move(values));
        xml.skipCurrentElement();
    }

    void readRowData()
    {
        if (!haveFields)
            refuse(QStringLiteral("ROWDATA before the field definitions"));
        int recordNumber = 0;
        while (xml.readNextStartElement()) {
            if (sameName(xml.name(), QLatin1StringView("ROW")))
                readRow(++recordNumber);
            else
                xml.skipCurrentElement();
        }
    }

    void read()
    {
        if (!xml.readNextStartElement()) {
            if (xml.hasError())
                xmlError();
            refuse(QStringLiteral("the file holds no XML element"));
        }
        if (!sameName(xml.name(), QLatin1StringView("DATAPACKET")))
            refuse(QStringLiteral("the document element is <%1>, not <DATAPACKET>").arg(xml.name()));
        while (xml.readNextStartElement()) {
            if (sameName(xml.name(), QLatin1StringView("METADATA")))
                readMetadata();
            else if (sameName(xml.name(), QLatin1StringView("ROWDATA")))
                readRowData();
            else
                xml.skipCurrentElement();
        }
        while (!xml.atEnd() && !xml.hasError())
            xml.readNext();
        if (xml.hasError())
            xmlError();
        if (!haveFields || fields.isEmpty())
            refuse(QStringLiteral("no field definitions"));
    }
};

// ---- Writing ----

// Appends into one growing buffer through a raw pointer: a table of thousands of rows is written
// without a per-character QByteArray call.
class Output
{
public:
    explicit Output(qsizetype reserve) : m_buffer(reserve, Qt::Uninitialized) {}

    // Room for n more bytes at the returned pointer; advance() records what was used.
    char* room(qsizetype n)
    {
        if (m_buffer.size() - m_used < n)
            m_buffer.resize(std::max(m_buffer.size() * 2, m_used + n));
        return m_buffer.data() + m_used;
    }
    void advance(char* end) { m_used = end - m_buffer.data(); }
    void append(const char* text, qsizetype n)
    {
        char* p = room(n);
        std::memcpy(p, text, size_t(n));
        advance(p + n);
    }
    void append(const char* text) { append(text, qsizetype(std::strlen(text))); }
    void append(const QByteArray& text) { append(text.constData(), text.size()); }
    QByteArray take()
    {
        m_buffer.truncate(m_used);
        return std::move(m_buffer);
    }

private:
    QByteArray m_buffer;
    qsizetype m_used = 0;
};

char* putUtf8(char* p, char32_t cp)
{
    if (cp < 0x80) {
        *p++ = char(cp);
    } else if (cp < 0x800) {
        *p++ = char(0xC0 | (cp >> 6));
        *p++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *p++ = char(0xE0 | (cp >> 12));
        *p++ = char(0x80 | ((cp >> 6) & 0x3F));
        *p++ = char(0x80 | (cp & 0x3F));
    } else {
        *p++ = char(0xF0 | (cp >> 18));
        *p++ = char(0x80 | ((cp >> 12) & 0x3F));
        *p++ = char(0x80 | ((cp >> 6) & 0x3F));
        *p++ = char(0x80 | (cp & 0x3F));
    }
    return p;
}

char* putLiteral(char* p, const char* text)
{
    while (*text)
        *p++ = *text++;
    return p;
}

void appendEscaped(Output& out, QStringView text)
{
    const qsizetype n = text.size();
    char* p = out.room(n * 6); // the longest form of one UTF-16 unit is "&quot;"
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80) {
            if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
                p = putUtf8(p, QChar::surrogateToUcs4(c, text[i + 1].unicode()));
                ++i;
            } else {
                p = putUtf8(p, QChar::isSurrogate(c) ? char32_t(0xFFFD) : char32_t(c));
            }
            continue;
        }
        switch (c) {
        case u'<':
            p = putLiteral(p, "&lt;");
            break;
        case u'>':
            p = putLiteral(p, "&gt;");
            break;
        case u'"':
            p = putLiteral(p, "&quot;");
            break;
        case u'&':
            p = putLiteral(p, "&amp;");
            break;
        case u'\'':
            p = putLiteral(p, "&apos;");
            break;
        case u'\r':
            p = putLiteral(p, "&#013;");
            break;
        case u'\n':
            p = putLiteral(p, "&#010;");
            break;
        case u'\t':
            p = putLiteral(p, "&#009;");
            break;
        case u'\\':
            p = putLiteral(p, "&#092;");
            break;
        default:
            if (c >= 0x20) // no XML 1.0 document can hold other control characters
                *p++ = char(c);
            break;
        }
    }
    out.advance(p);
}

void appendAttribute(Output& out, const char* name, QStringView value)
{
    out.append(" ");
    out.append(name);
    out.append("=\"");
    appendEscaped(out, value);
    out.append("\"");
}

void appendInteger(Output& out, int value)
{
    char* p = out.room(16);
    out.advance(std::to_chars(p, p + 16, value).ptr);
}

void appendFloat(Output& out, double value)
{
    // "%.16g" without the locale: snprintf would follow LC_NUMERIC and may write a comma.
    char* p = out.room(32);
    out.advance(std::to_chars(p, p + 32, value, std::chars_format::general, 16).ptr);
}

void appendTime(Output& out, double dayFraction)
{
    const qint64 ms = dayFractionToMs(dayFraction);
    const int h = int(ms / 3600000);
    const int m = int(ms / 60000 % 60);
    int run = int(ms % 60000);
    char* p = out.room(11);
    p[0] = char('0' + h / 10);
    p[1] = char('0' + h % 10);
    p[2] = ':';
    p[3] = char('0' + m / 10);
    p[4] = char('0' + m % 10);
    p[5] = ':';
    for (int i = 10; i >= 6; --i, run /= 10)
        p[i] = char('0' + run % 10);
    out.advance(p + 11);
}

// Whether the reader takes `name`, written as it stands, as the name of one attribute.
bool readableAttrName(const QString& name)
{
    for (const QChar c : name) {
        // What appendEscaped() would turn into a reference or drop
        if (c < u' ' || c == u'<' || c == u'>' || c == u'"' || c == u'&' || c == u'\'' || c == u'\\' || c.isSurrogate())
            return false;
    }
    QXmlStreamReader xml(QStringLiteral("<R %1=\"\"/>").arg(name));
    if (!xml.readNextStartElement())
        return false;
    const QXmlStreamAttributes attributes = xml.attributes();
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError() && attributes.size() == 1 && attributes.first().qualifiedName() == name;
}

// The attribute name of each field. The legacy rule can leave a name that no XML attribute may have ("a=b", "1st",
// "x:y") or give two fields one name ("a b", "a_b"); such a file could not be read back. Those names get '_' for
// the offending characters and, when taken, a '_' more: a table read from any file is saved to a readable file.
QStringList rowAttrNames(const QList<FieldDef>& fields)
{
    QStringList names;
    for (const FieldDef& field : fields) {
        QString name = datapacketAttrName(field.name);
        if (!readableAttrName(name)) {
            for (qsizetype i = 0; i < name.size(); ++i) {
                const QChar c = name[i];
                const bool kept = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' ||
                                  (i > 0 && ((c >= u'0' && c <= u'9') || c == u'-' || c == u'.'));
                if (!kept)
                    name[i] = u'_';
            }
            if (!readableAttrName(name))
                name.prepend(u'_'); // "xmlns" declares a namespace
        }
        while (names.contains(name))
            name += u'_';
        names.append(name);
    }
    return names;
}

const char* typeName(FieldType type)
{
    switch (type) {
    case FieldType::Integer:
        return "i4";
    case FieldType::Float:
        return "r8";
    case FieldType::Time:
        return "time";
    case FieldType::String:
        break;
    }
    return "string";
}

} // namespace

qint64 dayFractionToMs(double dayFraction)
{
    const double fraction = std::abs(dayFraction - std::trunc(dayFraction));
    return std::llround(fraction * double(msPerDay)) % msPerDay;
}

QString datapacketAttrName(const QString& fieldName)
{
    QString name = fieldName;
    for (QChar& c : name) {
        switch (c.unicode()) {
        case u' ':
        case u'(':
        case u')':
        case u'#':
        case u'*':
        case u'!':
        case u'$':
        case u'%':
        case u'?':
            c = u'_';
            break;
        default:
            break;
        }
    }
    return name;
}

Datapacket readDatapacket(const QByteArray& data)
{
    QByteArray bytes = data;
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    if (bom)
        bytes.remove(0, 3);
    blankStrayParamsEnd(bytes);

    Reader reader;
    // The engine reads UTF-8 only when the file says so and the whole content is valid UTF-8;
    // otherwise the text is in the Windows code page whatever the declaration claims.
    if ((bom || declaresUtf8(bytes)) && isValidUtf8(bytes))
        reader.xml.addData(bytes);
    else
        reader.xml.addData(decodeWindows1252(bytes)); // a QString input ignores the declared encoding
    reader.read();
    return Datapacket{std::move(reader.fields), std::move(reader.rows)};
}

QByteArray writeDatapacket(const QList<FieldDef>& fields, const QList<QVariantList>& rows)
{
    Output out(1024 + rows.size() * (fields.size() * 24 + 16));
    out.append(
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>)");

    const QStringList attrNames = rowAttrNames(fields);
    QList<QByteArray> rowAttributes; // " attrname=\"" per field
    for (qsizetype f = 0; f < fields.size(); ++f) {
        const FieldDef& field = fields[f];
        const QString& attrName = attrNames[f];
        out.append("<FIELD");
        if (attrName != field.name)
            appendAttribute(out, "fieldname", field.name);
        appendAttribute(out, "attrname", attrName);
        out.append(" fieldtype=\"");
        out.append(typeName(field.type));
        out.append("\"");
        if (field.type == FieldType::String) {
            out.append(" WIDTH=\"");
            appendInteger(out, field.size > 0 ? field.size : 20);
            out.append("\"");
        }
        out.append("/>");
        Output name(attrName.size() * 6 + 4);
        name.append(" ");
        appendEscaped(name, attrName);
        name.append("=\"");
        rowAttributes.append(name.take());
    }
    out.append("</FIELDS><PARAMS/></METADATA><ROWDATA>");

    for (const QVariantList& row : rows) {
        out.append("<ROW");
        const qsizetype n = std::min(row.size(), fields.size());
        for (qsizetype i = 0; i < n; ++i) {
            const QVariant& value = row[i];
            if (!value.isValid())
                continue;
            out.append(rowAttributes[i]);
            switch (fields[i].type) {
            case FieldType::Integer:
                appendInteger(out, value.toInt());
                break;
            case FieldType::Float:
                appendFloat(out, value.toDouble());
                break;
            case FieldType::Time:
                appendTime(out, value.toDouble());
                break;
            case FieldType::String:
                if (value.typeId() == QMetaType::QString)
                    appendEscaped(out, *static_cast<const QString*>(value.constData()));
                else
                    appendEscaped(out, value.toString());
                break;
            }
            out.append("\"");
        }
        out.append("/>");
    }
    out.append("</ROWDATA></DATAPACKET>");
    return out.take();
}
