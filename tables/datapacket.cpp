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
    // Only within the metadata: past it, a search for a tag that is not there would run through every row.
    while ((pos = QByteArrayView(bytes.constData(), limit).indexOf("PARAMS", pos)) >= 0) {
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
    // One pass: 1-2 digits, ':', 1-2 digits, ':', 1-5 digits. By hand, as for every time of every row of a file.
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    auto digits = [&](int minLen, int maxLen, int& value) {
        value = 0;
        int count = 0;
        for (; p != end && *p >= u'0' && *p <= u'9'; ++p) {
            if (++count > maxLen)
                return false;
            value = value * 10 + (*p - u'0');
        }
        return count >= minLen;
    };
    auto colon = [&] { return p != end && *p++ == u':'; };
    int h, m, sms;
    const char16_t* run = nullptr;
    if (!digits(1, 2, h) || !colon() || !digits(1, 2, m) || !colon() || !(run = p, digits(1, 5, sms)) || p != end)
        return false;
    for (auto i = end - run; i < 5; ++i)
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
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace()) // trimmed() is a call
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

// The attributes of a metadata element, decoded: name and value.
using Attributes = QList<std::pair<QString, QString>>;

// What a datapacket holds, filled by either parser below.
struct Content
{
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

    void addField(const Attributes& attributes)
    {
        QString attrName, fieldName, typeName, width, subtype, decimals;
        bool hasFieldName = false;
        FieldStorage storage;
        for (const auto& [n, value] : attributes) {
            const bool isTrue = sameName(value, QLatin1StringView("true"));
            if (sameName(n, QLatin1StringView("attrname"))) {
                attrName = value;
            } else if (sameName(n, QLatin1StringView("fieldname"))) {
                fieldName = value;
                hasFieldName = true;
            } else if (sameName(n, QLatin1StringView("fieldtype"))) {
                typeName = value;
            } else if (sameName(n, QLatin1StringView("width"))) {
                width = value;
            } else if (sameName(n, QLatin1StringView("SUBTYPE"))) {
                storage.subtype = value;
            } else if (sameName(n, QLatin1StringView("DECIMALS"))) {
                decimals = value;
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
    }

    void setParams(const Attributes& attributes)
    {
        for (const auto& [n, value] : attributes) {
            if (sameName(n, QLatin1StringView("LCID")) || sameName(n, QLatin1StringView("PRIMARY_KEY")) ||
                sameName(n, QLatin1StringView("DEFAULT_ORDER"))) {
                params.append({n, value});
            } else if (sameName(n, QLatin1StringView("CHANGE_LOG"))) {
                // Triples (record, record, action); a modification (action 8) names the new and the old version.
                const QList<QStringView> numbers = QStringView(value).split(u' ', Qt::SkipEmptyParts);
                for (qsizetype i = 0; i + 2 < numbers.size(); i += 3) {
                    if (numbers[i + 2].toInt() & 8)
                        modifiedFrom.insert(numbers[i].toInt(), numbers[i + 1].toInt());
                }
            }
        }
    }

    QVariant value(qsizetype field, QStringView text, int recordNumber) const
    {
        if (kinds[field] != TextKind::None)
            return parseFileText(kinds[field], text, fields[field], recordNumber);
        return parseValue(fields[field].type, text, fields[field], recordNumber);
    }

    static int rowState(QStringView text, int recordNumber)
    {
        bool ok = false;
        const int state = text.toInt(&ok);
        if (!ok)
            refuse(QStringLiteral("'%1' is not a valid RowState (row %2)").arg(text.toString()).arg(recordNumber));
        return state;
    }

    void addRow(int state, QVariantList&& values)
    {
        if (haveLobs && !modifiedFrom.isEmpty()) {
            records.push_back(Record{state, std::move(values)});
        } else if ((state & 35) == 0) {
            // Superseded originals, deleted rows and holes stay in a change log only for undo.
            rows.append(std::move(values));
        }
    }

    // In a new version of a modified row, a memo or blob left out is the one of the version it replaces.
    void endRowData()
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

    Datapacket take()
    {
        if (!haveFields || fields.isEmpty())
            refuse(QStringLiteral("no field definitions"));
        return Datapacket{std::move(fields), std::move(rows), std::move(params)};
    }
};

// Any file, through QXmlStreamReader: every form a tolerant reader accepts, and the errors that name what is wrong.
struct Reader
{
    QXmlStreamReader xml;
    Content content;

    [[noreturn]] void xmlError()
    {
        refuse(QStringLiteral("%1 (line %2, column %3)")
                   .arg(xml.errorString())
                   .arg(xml.lineNumber())
                   .arg(xml.columnNumber()));
    }

    Attributes attributes() const
    {
        Attributes out;
        for (const QXmlStreamAttribute& a : xml.attributes())
            out.append({a.name().toString(), a.value().toString()});
        return out;
    }

    void readMetadata()
    {
        while (xml.readNextStartElement()) {
            if (sameName(xml.name(), QLatin1StringView("FIELDS"))) {
                while (xml.readNextStartElement()) {
                    if (sameName(xml.name(), QLatin1StringView("FIELD")))
                        content.addField(attributes());
                    xml.skipCurrentElement(); // a nested table's own FIELDS, already refused by type
                }
                content.haveFields = true;
            } else {
                if (sameName(xml.name(), QLatin1StringView("PARAMS")))
                    content.setParams(attributes());
                xml.skipCurrentElement(); // PARAM children
            }
        }
    }

    void readRow(int recordNumber)
    {
        const QList<FieldDef>& fields = content.fields;
        const QStringList& attrNames = content.attrNames;
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
                if (sameName(name, QLatin1StringView("RowState")))
                    rowState = Content::rowState(a.value(), recordNumber);
                continue; // other attributes are not ours to judge
            }
            values[index] = content.value(index, a.value(), recordNumber);
            expected = index + 1;
        }
        content.addRow(rowState, std::move(values));
        xml.skipCurrentElement();
    }

    void readRowData()
    {
        if (!content.haveFields)
            refuse(QStringLiteral("ROWDATA before the field definitions"));
        int recordNumber = 0;
        while (xml.readNextStartElement()) {
            if (sameName(xml.name(), QLatin1StringView("ROW")))
                readRow(++recordNumber);
            else
                xml.skipCurrentElement();
        }
        content.endRowData();
    }

    Datapacket read()
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
        return content.take();
    }
};

// The common files, straight from their bytes: the engine's own layout, single-line or with blanks and line breaks
// between the tags, in UTF-8 or the Windows code page. QXmlStreamReader alone takes several times longer than
// writing the file, mostly in building an attribute list per ROW. Whatever this parser is not certain to read
// exactly as QXmlStreamReader does (a comment, a DOCTYPE, a namespace, an unusual declaration or name, a
// character or reference out of the ordinary, any error) makes it give up, and the Reader above reads the file
// instead; so every file reads to the same content or the same error either way.
class FastReader
{
public:
    struct GiveUp
    {
    };

    FastReader(QByteArrayView bytes, bool utf8) : m_p(bytes.data()), m_end(bytes.data() + bytes.size()), m_utf8(utf8) {}

    Datapacket read()
    {
        readDeclaration();
        skipBlanks();
        expectStart("DATAPACKET");
        if (startTagEnd())
            giveUp(); // <DATAPACKET/>: no fields
        skipBlanks();
        expectStart("METADATA");
        if (startTagEnd())
            giveUp();
        skipBlanks();
        expectStart("FIELDS");
        if (!startTagEnd()) {
            for (;;) {
                skipBlanks();
                if (!atStart("FIELD"))
                    break;
                Attributes attributes;
                if (!startTagEnd(&attributes))
                    giveUp(); // content of a FIELD: a nested table, or something stranger
                m_content.addField(attributes);
            }
            expectEnd("FIELDS");
        }
        m_content.haveFields = true;
        skipBlanks();
        if (atStart("PARAMS")) {
            Attributes attributes;
            const bool empty = startTagEnd(&attributes);
            m_content.setParams(attributes);
            if (!empty) {
                for (;;) {
                    skipBlanks();
                    if (!atStart("PARAM"))
                        break;
                    if (!startTagEnd())
                        giveUp();
                }
                expectEnd("PARAMS");
            }
            skipBlanks();
        }
        expectEnd("METADATA");
        skipBlanks();
        if (atStart("ROWDATA")) {
            if (!startTagEnd()) {
                prepareRows(QByteArrayView(m_p, m_end - m_p));
                int recordNumber = 0;
                for (;;) {
                    skipBlanks();
                    if (!atStart("ROW"))
                        break;
                    readRow(++recordNumber);
                }
                expectEnd("ROWDATA");
            }
            m_content.endRowData();
            skipBlanks();
        }
        expectEnd("DATAPACKET");
        skipBlanks();
        if (m_p != m_end)
            giveUp();
        return m_content.take();
    }

private:
    [[noreturn]] static void giveUp() { throw GiveUp{}; }

    static bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

    void skipBlanks()
    {
        while (m_p != m_end && isBlank(*m_p))
            ++m_p;
    }

    bool startsWith(const char* text, qsizetype n) const
    {
        return m_end - m_p >= n && std::memcmp(m_p, text, size_t(n)) == 0;
    }

    // The two declarations the engine writes, or none.
    void readDeclaration()
    {
        static const char plain[] = R"(<?xml version="1.0" standalone="yes"?>)";
        static const char utf8[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
        if (startsWith(plain, sizeof plain - 1))
            m_p += sizeof plain - 1;
        else if (startsWith(utf8, sizeof utf8 - 1))
            m_p += sizeof utf8 - 1;
        else if (startsWith("<?", 2))
            giveUp();
    }

    // "<name" followed by a blank, '/' or '>': consumes it.
    bool atStart(const char* name)
    {
        const auto n = qsizetype(std::strlen(name));
        if (m_end - m_p < n + 2 || m_p[0] != '<' || std::memcmp(m_p + 1, name, size_t(n)) != 0)
            return false;
        const char after = m_p[n + 1];
        if (!isBlank(after) && after != '/' && after != '>')
            return false;
        m_p += n + 1;
        return true;
    }

    void expectStart(const char* name)
    {
        if (!atStart(name))
            giveUp();
    }

    void expectEnd(const char* name)
    {
        const auto n = qsizetype(std::strlen(name));
        if (m_end - m_p < n + 3 || m_p[0] != '<' || m_p[1] != '/' || std::memcmp(m_p + 2, name, size_t(n)) != 0)
            giveUp();
        m_p += n + 2;
        skipBlanks();
        if (m_p == m_end || *m_p != '>')
            giveUp();
        ++m_p;
    }

    // A name of ASCII letters, digits, '_', '-' and '.', not starting with a digit, '-' or '.', and not one that
    // XML reserves: what every XML reader takes the same way. Anything else is left to QXmlStreamReader.
    static bool plainName(const char* begin, const char* end)
    {
        if (begin == end || !(std::isalpha(uchar(*begin)) || *begin == '_'))
            return false;
        if (end - begin >= 3 && (begin[0] | 0x20) == 'x' && (begin[1] | 0x20) == 'm' && (begin[2] | 0x20) == 'l')
            return false;
        return std::all_of(begin + 1, end,
                           [](char c) { return std::isalnum(uchar(c)) || c == '_' || c == '-' || c == '.'; });
    }

    // After the attributes: true for "/>", false for ">".
    bool tagClose()
    {
        if (m_p != m_end && *m_p == '>') {
            ++m_p;
            return false;
        }
        if (m_end - m_p >= 2 && m_p[0] == '/' && m_p[1] == '>') {
            m_p += 2;
            return true;
        }
        giveUp();
    }

    // One attribute from the blank before it: the name's bytes, and the value's between its quotes.
    // False at the end of the tag.
    bool nextAttribute(const char*& nameBegin, const char*& nameEnd, const char*& valueBegin, const char*& valueEnd)
    {
        const char* const before = m_p;
        skipBlanks();
        if (m_p == m_end)
            giveUp();
        if (*m_p == '>' || *m_p == '/')
            return false;
        if (m_p == before)
            giveUp(); // attributes are separated by blanks
        nameBegin = m_p;
        while (m_p != m_end && *m_p != '=' && !isBlank(*m_p) && *m_p != '>' && *m_p != '/')
            ++m_p;
        nameEnd = m_p;
        skipBlanks();
        if (m_p == m_end || *m_p != '=')
            giveUp();
        ++m_p;
        skipBlanks();
        if (m_p == m_end || (*m_p != '"' && *m_p != '\''))
            giveUp();
        const char quote = *m_p++;
        valueBegin = m_p;
        const auto* close = static_cast<const char*>(std::memchr(m_p, quote, size_t(m_end - m_p)));
        if (!close)
            giveUp();
        valueEnd = close;
        m_p = close + 1;
        return true;
    }

    // Whether the value needs decoding: a reference, a byte that is not plain ASCII, or one that is not allowed.
    static bool plainValue(const char* begin, const char* end)
    {
        for (const char* p = begin; p != end; ++p) {
            const auto c = uchar(*p);
            if (c < 0x20 || c >= 0x7F || c == '&' || c == '<')
                return false;
        }
        return true;
    }

    // A value into m_text: references resolved, bytes decoded. Gives up on what XML normalizes or forbids.
    QStringView decode(const char* begin, const char* end)
    {
        m_text.clear();
        const char* p = begin;
        while (p != end) {
            const auto c = uchar(*p);
            if (c >= 0x20 && c < 0x7F && c != '&' && c != '<') {
                m_text.push_back(char16_t(c));
                ++p;
            } else if (c == '&') {
                p = reference(p + 1, end);
            } else if (c < 0x80) {
                giveUp(); // '<', a control character, DEL, or a blank that XML would normalize
            } else if (!m_utf8) {
                const char16_t u = c <= 0x9F ? cp1252High[c - 0x80] : char16_t(c);
                if (u <= 0x9F)
                    giveUp(); // a C1 control, which some readers refuse
                m_text.push_back(u);
                ++p;
            } else {
                p = utf8Character(p, end);
            }
        }
        return QStringView(m_text.data(), qsizetype(m_text.size()));
    }

    // A sequence already checked by isValidUtf8(); characters out of the ordinary are left to QXmlStreamReader.
    const char* utf8Character(const char* p, const char* end)
    {
        const auto c = uchar(*p);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        if (end - p <= extra)
            giveUp();
        char32_t cp = c & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i)
            cp = (cp << 6) | (uchar(p[i]) & 0x3F);
        if (cp <= 0x9F || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE)
            giveUp();
        appendCodePoint(cp);
        return p + extra + 1;
    }

    void appendCodePoint(char32_t cp)
    {
        if (cp >= 0x10000) {
            m_text.push_back(QChar::highSurrogate(cp));
            m_text.push_back(QChar::lowSurrogate(cp));
        } else {
            m_text.push_back(char16_t(cp));
        }
    }

    // "&lt;" ... "&apos;", "&#NNN;" or "&#xHH;" from after the '&'.
    const char* reference(const char* p, const char* end)
    {
        const auto* semicolon = static_cast<const char*>(std::memchr(p, ';', size_t(std::min<qsizetype>(end - p, 10))));
        if (!semicolon)
            giveUp();
        const QByteArrayView name(p, semicolon - p);
        if (name == "lt") {
            m_text.push_back(u'<');
        } else if (name == "gt") {
            m_text.push_back(u'>');
        } else if (name == "amp") {
            m_text.push_back(u'&');
        } else if (name == "quot") {
            m_text.push_back(u'"');
        } else if (name == "apos") {
            m_text.push_back(u'\'');
        } else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const QByteArrayView digits = name.sliced(hex ? 2 : 1);
            if (digits.isEmpty() || digits.size() > 7)
                giveUp();
            char32_t cp = 0;
            for (const char d : digits) {
                int v;
                if (d >= '0' && d <= '9')
                    v = d - '0';
                else if (hex && d >= 'a' && d <= 'f')
                    v = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F')
                    v = d - 'A' + 10;
                else
                    giveUp();
                cp = cp * (hex ? 16 : 10) + char32_t(v);
            }
            const bool blank = cp == 0x9 || cp == 0xA || cp == 0xD;
            if (!blank && (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0xD800 && cp <= 0xDFFF) ||
                           (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE || cp > 0x10FFFF))
                giveUp();
            appendCodePoint(cp);
        } else {
            giveUp(); // an entity of a DOCTYPE, or none at all
        }
        return semicolon + 1;
    }

    // The attributes of a metadata tag, through its end; true for an empty-element tag.
    bool startTagEnd(Attributes* attributes = nullptr)
    {
        Attributes ignored;
        if (!attributes)
            attributes = &ignored;
        const char *nameBegin, *nameEnd, *valueBegin, *valueEnd;
        while (nextAttribute(nameBegin, nameEnd, valueBegin, valueEnd)) {
            if (!plainName(nameBegin, nameEnd))
                giveUp();
            const QString name = QString::fromLatin1(nameBegin, nameEnd - nameBegin);
            for (const auto& a : std::as_const(*attributes)) {
                if (a.first == name)
                    giveUp(); // an attribute given twice
            }
            attributes->append({name, decode(valueBegin, valueEnd).toString()});
        }
        return tagClose();
    }

    // The ROW attribute name of each field, as bytes of the file's encoding. A name that QXmlStreamReader would
    // not take as it stands matches nothing, so that a ROW using it is left to QXmlStreamReader.
    void prepareRows(QByteArrayView rowData)
    {
        // Room for every row at once: growing a list of thousands of rows frees large blocks on the way, and each
        // such free makes the allocator sort all the small blocks freed before it.
        qsizetype rows = 0;
        for (const char* p = rowData.data(); (p = static_cast<const char*>(std::memchr(p, '<', size_t(m_end - p))));
             ++p)
            rows += m_end - p > 4 && p[1] == 'R' && p[2] == 'O' && p[3] == 'W';
        m_content.rows.reserve(rows);
        for (const QString& name : std::as_const(m_content.attrNames)) {
            QByteArray key;
            if (readableAttrName(name)) {
                if (m_utf8) {
                    key = name.toUtf8();
                } else {
                    for (const QChar c : name) {
                        const char16_t u = c.unicode();
                        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
                            key.append(char(u)); // C1 controls and other characters: see decode()
                        else if (const char16_t* at = std::find(cp1252High, cp1252High + 32, u); at != cp1252High + 32)
                            key.append(char(0x80 + (at - cp1252High)));
                        else
                            key.clear();
                        if (key.isEmpty())
                            break;
                    }
                }
            }
            m_keys.append(key);
        }
        m_seen.assign(size_t(m_keys.size()), 0);
    }

    void readRow(int recordNumber)
    {
        const qsizetype n = m_content.fields.size();
        QVariantList values(n);
        QVariant* const out = values.data(); // detached once, not at every value
        int rowState = 0;
        qsizetype expected = 0; // the engine writes attributes in field order
        m_others.clear();
        const char *nameBegin, *nameEnd, *valueBegin, *valueEnd;
        while (nextAttribute(nameBegin, nameEnd, valueBegin, valueEnd)) {
            const QByteArrayView name(nameBegin, nameEnd - nameBegin);
            qsizetype index = -1;
            for (qsizetype k = 0; k < n; ++k) {
                const qsizetype i = (expected + k) % n;
                const QByteArray& key = m_keys[i];
                if (name.size() == key.size() && !key.isEmpty() &&
                    std::memcmp(name.data(), key.constData(), size_t(key.size())) == 0) {
                    index = i;
                    break;
                }
            }
            if (index < 0) {
                // RowState, or an attribute that is not ours to judge: checked as QXmlStreamReader would.
                if (!plainName(nameBegin, nameEnd) || m_others.contains(name))
                    giveUp();
                m_others.append(name);
                const QStringView text = decode(valueBegin, valueEnd);
                if (name.compare("RowState", Qt::CaseInsensitive) == 0)
                    rowState = Content::rowState(text, recordNumber);
                continue;
            }
            if (m_seen[size_t(index)] == recordNumber)
                giveUp(); // an attribute given twice
            m_seen[size_t(index)] = recordNumber;
            const FieldDef& field = m_content.fields[index];
            const qsizetype size = valueEnd - valueBegin;
            if (m_content.kinds[index] != TextKind::None || !plainValue(valueBegin, valueEnd)) {
                out[index] = m_content.value(index, decode(valueBegin, valueEnd), recordNumber);
            } else if (field.type == FieldType::String) {
                out[index] = QString::fromLatin1(valueBegin, size);
            } else if (size <= qsizetype(std::size(m_number))) {
                // A number or a time: plain ASCII, widened in place
                std::copy(valueBegin, valueEnd, m_number);
                out[index] = parseValue(field.type, QStringView(m_number, size), field, recordNumber);
            } else {
                out[index] = m_content.value(index, decode(valueBegin, valueEnd), recordNumber);
            }
            expected = index + 1;
        }
        if (!tagClose()) {
            skipBlanks();
            expectEnd("ROW");
        }
        m_content.addRow(rowState, std::move(values));
    }

    const char* m_p;
    const char* m_end;
    bool m_utf8;
    Content m_content;
    QList<QByteArray> m_keys;
    std::vector<int> m_seen; // per field: the record whose attribute it was last
    QList<QByteArrayView> m_others;
    std::u16string m_text;
    char16_t m_number[64];
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

namespace {

Datapacket readBytes(const QByteArray& data, bool fast)
{
    QByteArray bytes = data;
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    if (bom)
        bytes.remove(0, 3);
    blankStrayParamsEnd(bytes);

    // The engine reads UTF-8 only when the file says so and the whole content is valid UTF-8;
    // otherwise the text is in the Windows code page whatever the declaration claims.
    const bool utf8 = (bom || declaresUtf8(bytes)) && isValidUtf8(bytes);
    if (fast) {
        try {
            return FastReader(bytes, utf8).read();
        } catch (const FastReader::GiveUp&) {
        } catch (const EngineError&) {
            // The same error again from the Reader, which names the line and column of an XML error
        }
    }
    Reader reader;
    if (utf8)
        reader.xml.addData(bytes);
    else
        reader.xml.addData(decodeWindows1252(bytes)); // a QString input ignores the declared encoding
    return reader.read();
}

} // namespace

Datapacket readDatapacket(const QByteArray& data)
{
    return readBytes(data, true);
}

Datapacket readDatapacketFully(const QByteArray& data)
{
    return readBytes(data, false);
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
