#include "tables/datapacket.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>
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

// The file text of a column that the engine keeps as read (FieldDef::keepsFileText()).
enum class TextKind { None, Date, DateTime, Boolean, Int64, UInt32, UInt64, Memo, Blob };

struct TypeName
{
    const char* name; // as the engine writes it
    FieldType type;
    TextKind kind;
    int size; // the longest text of a kept kind
};

// Memos and blobs can be long: as much as one line of text can take.
constexpr int longTextSize = 32767;

constexpr TypeName typeNames[] = {
    {"i4", FieldType::Integer, TextKind::None, 0},
    {"string", FieldType::String, TextKind::None, 0},
    {"r8", FieldType::Float, TextKind::None, 0},
    {"time", FieldType::Time, TextKind::None, 0},
    {"i1", FieldType::Integer, TextKind::None, 0},
    {"i2", FieldType::Integer, TextKind::None, 0},
    {"ui1", FieldType::Integer, TextKind::None, 0},
    {"ui2", FieldType::Integer, TextKind::None, 0},
    {"r4", FieldType::Float, TextKind::None, 0},
    {"r10", FieldType::Float, TextKind::None, 0},
    {"string.uni", FieldType::String, TextKind::None, 0},
    {"date", FieldType::String, TextKind::Date, 8},
    {"dateTime", FieldType::String, TextKind::DateTime, 20},
    {"boolean", FieldType::String, TextKind::Boolean, 5},
    {"i8", FieldType::String, TextKind::Int64, 20},
    {"ui4", FieldType::String, TextKind::UInt32, 10},
    {"ui8", FieldType::String, TextKind::UInt64, 20},
    {"bin.hex", FieldType::String, TextKind::Blob, longTextSize}, // a memo by its SUBTYPE
};

const TypeName* findTypeName(QStringView name)
{
    for (const TypeName& t : typeNames) {
        if (sameName(name, QLatin1StringView(t.name)))
            return &t;
    }
    return nullptr;
}

// The type name to write for a field: the kept one when it still fits the field's type.
const TypeName& typeNameOf(const FieldDef& field)
{
    if (!field.storage.type.isEmpty()) {
        const TypeName* kept = findTypeName(field.storage.type);
        if (kept && kept->type == field.type)
            return *kept;
    }
    for (const TypeName& t : typeNames) {
        if (t.type == field.type)
            return t;
    }
    return typeNames[1];
}

TextKind textKindOf(const FieldDef& field)
{
    if (field.type != FieldType::String || field.storage.type.isEmpty())
        return TextKind::None;
    const TypeName* kept = findTypeName(field.storage.type);
    if (!kept || kept->type != FieldType::String)
        return TextKind::None;
    if (kept->kind == TextKind::Blob && (sameName(field.storage.subtype, QLatin1StringView("Text")) ||
                                         sameName(field.storage.subtype, QLatin1StringView("WideText"))))
        return TextKind::Memo;
    return kept->kind;
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

bool digitsOnly(QStringView s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// "YYYYMMDD", a real calendar day.
bool parseDate(QStringView text)
{
    if (text.size() != 8 || !digitsOnly(text))
        return false;
    return QDate(text.first(4).toInt(), text.sliced(4, 2).toInt(), text.sliced(6, 2).toInt()).isValid();
}

template <typename T> bool parseWhole(QStringView text, T max)
{
    char latin1[24];
    qsizetype n = 0;
    for (const QChar c : text) {
        if (n == qsizetype(sizeof latin1) || c.unicode() >= 0x80)
            return false;
        latin1[n++] = char(c.unicode());
    }
    const char* begin = n > 0 && latin1[0] == '+' ? latin1 + 1 : latin1;
    T v{};
    const auto result = std::from_chars(begin, latin1 + n, v);
    return result.ec == std::errc() && result.ptr == latin1 + n && v <= max;
}

// Whether a value text (blanks trimmed, not empty) is one of the kind.
bool validFileText(TextKind kind, QStringView text)
{
    switch (kind) {
    case TextKind::Date:
        return parseDate(text);
    case TextKind::DateTime: {
        qint64 ms = 0;
        return parseDate(text.first(std::min<qsizetype>(8, text.size()))) &&
               (text.size() == 8 || (text[8] == u'T' && parseTime(text.sliced(9), ms)));
    }
    case TextKind::Int64:
        return parseWhole<qint64>(text, std::numeric_limits<qint64>::max());
    case TextKind::UInt32:
        return parseWhole<quint64>(text, std::numeric_limits<quint32>::max());
    case TextKind::UInt64:
        return parseWhole<quint64>(text, std::numeric_limits<quint64>::max());
    case TextKind::Blob:
        // Base64, possibly broken into lines
        return std::all_of(text.begin(), text.end(), [](QChar c) {
            return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+' ||
                   c == u'/' || c == u'=' || c.isSpace();
        });
    case TextKind::Boolean: // readers look at the first letter only
    case TextKind::Memo:
    case TextKind::None:
        break;
    }
    return true;
}

// A value of a kept kind as the file holds it; memos and blobs keep blanks and an empty text.
QVariant parseFileText(TextKind kind, QStringView text, const FieldDef& field, int rowNumber)
{
    const bool textLike = kind == TextKind::Memo || kind == TextKind::Blob;
    const QStringView trimmed = text.trimmed();
    if (trimmed.isEmpty() && !textLike)
        return {};
    if (!validFileText(kind, trimmed))
        refuse(QStringLiteral("'%1' is not a valid %2 value (field '%3', row %4)")
                   .arg(text.toString(), field.storage.type, field.name)
                   .arg(rowNumber));
    return textLike ? text.toString() : trimmed.toString();
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
    QList<TextKind> kinds;
    QStringList attrNames;
    QList<QVariantList> rows;
    DatapacketParams params;
    QHash<int, int> modifiedFrom; // change log: record of a new version -> record of the version it replaces
    bool haveFields = false;
    bool haveLobs = false; // memo or blob fields: rows of a change log are kept until the log is resolved

    // Every ROW with its RowState, while a change log with memos or blobs is being read.
    struct Record
    {
        int state = 0;
        QVariantList values;
    };
    std::vector<Record> records;

    [[noreturn]] void xmlError()
    {
        refuse(QStringLiteral("%1 (line %2, column %3)")
                   .arg(xml.errorString())
                   .arg(xml.lineNumber())
                   .arg(xml.columnNumber()));
    }

    void readField()
    {
        QString attrName, fieldName, typeName, width, subtype, decimals;
        bool hasFieldName = false;
        FieldStorage storage;
        for (const QXmlStreamAttribute& a : xml.attributes()) {
            const QStringView n = a.name();
            const bool isTrue = sameName(a.value(), QLatin1StringView("true"));
            if (sameName(n, QLatin1StringView("attrname"))) {
                attrName = a.value().toString();
            } else if (sameName(n, QLatin1StringView("fieldname"))) {
                fieldName = a.value().toString();
                hasFieldName = true;
            } else if (sameName(n, QLatin1StringView("fieldtype"))) {
                typeName = a.value().toString();
            } else if (sameName(n, QLatin1StringView("width"))) {
                width = a.value().toString();
            } else if (sameName(n, QLatin1StringView("SUBTYPE"))) {
                storage.subtype = a.value().toString();
            } else if (sameName(n, QLatin1StringView("DECIMALS"))) {
                decimals = a.value().toString();
            } else if (sameName(n, QLatin1StringView("readonly"))) {
                storage.readOnly = isTrue;
            } else if (sameName(n, QLatin1StringView("required"))) {
                storage.required = isTrue;
            } else if (sameName(n, QLatin1StringView("hidden"))) {
                storage.hidden = isTrue;
            } else if (sameName(n, QLatin1StringView("linkfield"))) {
                storage.linkField = isTrue;
            }
        }
        if (attrName.isEmpty())
            refuse(QStringLiteral("a FIELD without attrname"));
        FieldDef def;
        def.name = hasFieldName && !fieldName.isEmpty() ? fieldName : attrName;
        if (typeName.isEmpty())
            refuse(QStringLiteral("field '%1' has no fieldtype").arg(def.name));
        const TypeName* type = findTypeName(typeName);
        if (!type)
            refuse(QStringLiteral("field '%1' has the unsupported type '%2'").arg(def.name, typeName));
        def.type = type->type;
        storage.type = QLatin1StringView(type->name);
        bool ok = false;
        storage.decimals = std::max(0, decimals.toInt(&ok));
        def.storage = std::move(storage);
        const TextKind kind = textKindOf(def);
        if (def.type == FieldType::String && kind == TextKind::None) {
            ok = true;
            def.size = width.isEmpty() ? 20 : width.toInt(&ok);
            if (!ok || def.size <= 0)
                refuse(QStringLiteral("field '%1' has the invalid width '%2'").arg(def.name, width));
        } else {
            def.storage.width = std::max(0, width.toInt(&ok)); // kept as read; an unreadable one is dropped
            if (kind != TextKind::None)
                def.size = type->size;
        }
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (fields[i].name.compare(def.name, Qt::CaseInsensitive) == 0 || attrNames[i] == attrName)
                refuse(QStringLiteral("field '%1' is defined twice").arg(def.name));
        }
        haveLobs = haveLobs || kind == TextKind::Memo || kind == TextKind::Blob;
        fields.append(def);
        kinds.append(kind);
        attrNames.append(attrName);
        xml.skipCurrentElement(); // a nested table's own FIELDS, already refused by type
    }

    void readParams()
    {
        for (const QXmlStreamAttribute& a : xml.attributes()) {
            const QStringView n = a.name();
            if (sameName(n, QLatin1StringView("LCID")) || sameName(n, QLatin1StringView("PRIMARY_KEY")) ||
                sameName(n, QLatin1StringView("DEFAULT_ORDER"))) {
                params.append({n.toString(), a.value().toString()});
            } else if (sameName(n, QLatin1StringView("CHANGE_LOG"))) {
                // Triples (record, record, action); a modification (action 8) names the new and the old version.
                const QList<QStringView> numbers = a.value().split(u' ', Qt::SkipEmptyParts);
                for (qsizetype i = 0; i + 2 < numbers.size(); i += 3) {
                    if (numbers[i + 2].toInt() & 8)
                        modifiedFrom.insert(numbers[i].toInt(), numbers[i + 1].toInt());
                }
            }
        }
        xml.skipCurrentElement(); // PARAM children
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
            } else if (sameName(xml.name(), QLatin1StringView("PARAMS"))) {
                readParams();
            } else {
                xml.skipCurrentElement();
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
            if (kinds[index] != TextKind::None)
                values[index] = parseFileText(kinds[index], a.value(), fields[index], recordNumber);
            else
                values[index] = parseValue(fields[index].type, a.value(), fields[index], recordNumber);
            expected = index + 1;
        }
        if (haveLobs && !modifiedFrom.isEmpty()) {
            records.push_back(Record{rowState, std::move(values)});
        } else if ((rowState & 35) == 0) {
            // Superseded originals, deleted rows and holes stay in a change log only for undo.
            rows.append(std::move(values));
        }
        xml.skipCurrentElement();
    }

    // In a new version of a modified row, a memo or blob left out is the one of the version it replaces.
    void resolveChangeLog()
    {
        for (std::size_t r = 0; r < records.size(); ++r) {
            Record& record = records[r];
            const int from = modifiedFrom.value(int(r) + 1, 0);
            if ((record.state & 8) && from >= 1 && std::size_t(from) <= records.size() && std::size_t(from) != r + 1) {
                const QVariantList& old = records[std::size_t(from) - 1].values;
                for (qsizetype f = 0; f < fields.size(); ++f) {
                    if ((kinds[f] == TextKind::Memo || kinds[f] == TextKind::Blob) && !record.values[f].isValid())
                        record.values[f] = old[f];
                }
            }
        }
        for (Record& record : records) {
            if ((record.state & 35) == 0)
                rows.append(std::move(record.values));
        }
        records.clear();
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
        resolveChangeLog();
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

void appendAttribute(Output& out, QStringView name, QStringView value)
{
    out.append(" ");
    appendEscaped(out, name);
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

// "HH:MM:SSmmm"
QString timeText(qint64 ms)
{
    return QString::asprintf("%02d:%02d:%05d", int(ms / 3600000), int(ms / 60000 % 60), int(ms % 60000));
}

} // namespace

bool FieldDef::keepsFileText() const
{
    return textKindOf(*this) != TextKind::None;
}

QVariant fileTextValue(const FieldDef& field, const QVariant& value)
{
    const TextKind kind = textKindOf(field);
    if (!value.isValid())
        return {};
    const QString typeName = QLatin1StringView(typeNameOf(field).name);
    auto refuseValue = [&](const QString& text) {
        throw EngineError(QStringLiteral("'%1' is not a valid %2 value").arg(text, typeName));
    };
    switch (value.typeId()) {
    case QMetaType::Bool:
        if (kind != TextKind::Boolean)
            refuseValue(value.toString());
        return value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case QMetaType::QDate: {
        const QDate date = value.toDate();
        if (kind != TextKind::Date && kind != TextKind::DateTime)
            refuseValue(value.toString());
        return date.isValid() ? QVariant(date.toString(QStringLiteral("yyyyMMdd"))) : QVariant();
    }
    case QMetaType::QDateTime: {
        const QDateTime at = value.toDateTime();
        if (kind != TextKind::DateTime)
            refuseValue(value.toString());
        if (!at.isValid())
            return {};
        const QString date = at.date().toString(QStringLiteral("yyyyMMdd"));
        const int ms = at.time().msecsSinceStartOfDay();
        return ms == 0 ? date : date + u'T' + timeText(ms);
    }
    case QMetaType::QByteArray:
        if (kind == TextKind::Blob)
            return QString::fromLatin1(value.toByteArray().toBase64());
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        if (kind != TextKind::Int64 && kind != TextKind::UInt32 && kind != TextKind::UInt64)
            refuseValue(value.toString());
        break; // checked as text below
    default:
        break;
    }
    QString text = value.toString();
    if (kind == TextKind::Memo || kind == TextKind::Blob) {
        // Characters no XML document can hold
        text.removeIf([](QChar c) { return c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n'; });
    } else {
        text = text.trimmed();
        if (text.isEmpty())
            return {};
    }
    if (!validFileText(kind, text))
        refuseValue(text);
    return text;
}

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
    return Datapacket{std::move(reader.fields), std::move(reader.rows), std::move(reader.params)};
}

QByteArray writeDatapacket(const QList<FieldDef>& fields, const QList<QVariantList>& rows,
                           const DatapacketParams& params)
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
            appendAttribute(out, u"fieldname", field.name);
        appendAttribute(out, u"attrname", attrName);
        const TypeName& type = typeNameOf(field);
        const FieldStorage& storage = field.storage;
        out.append(" fieldtype=\"");
        out.append(type.name);
        out.append("\"");
        if (storage.readOnly)
            out.append(" readonly=\"true\"");
        if (storage.required)
            out.append(" required=\"true\"");
        if (storage.hidden)
            out.append(" hidden=\"true\"");
        if (storage.linkField)
            out.append(" linkfield=\"true\"");
        if (!storage.subtype.isEmpty())
            appendAttribute(out, u"SUBTYPE", storage.subtype);
        if (storage.decimals > 0) {
            out.append(" DECIMALS=\"");
            appendInteger(out, storage.decimals);
            out.append("\"");
        }
        const bool text = field.type == FieldType::String && type.kind == TextKind::None;
        const int width = text ? (field.size > 0 ? field.size : 20) : storage.width;
        if (width > 0) {
            out.append(" WIDTH=\"");
            appendInteger(out, width);
            out.append("\"");
        }
        out.append("/>");
        Output name(attrName.size() * 6 + 4);
        name.append(" ");
        appendEscaped(name, attrName);
        name.append("=\"");
        rowAttributes.append(name.take());
    }
    out.append("</FIELDS><PARAMS");
    for (const auto& [name, value] : params) {
        if (readableAttrName(name))
            appendAttribute(out, name, value);
    }
    out.append("/></METADATA><ROWDATA>");

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
