#include "tables/table.h"

#include "tables/datapacket.h"
#include "tables/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcTables, "quintara.tables")

struct Table::Row
{
    QVariantList values;
    bool visible = true; // passes the filter (an unposted inserted row is always visible)
};

namespace {

constexpr double msPerDay = 86400000.0;

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Field values hold exactly the types of their fields, so strings can be read without a copy.
const QString& stringOf(const QVariant& v)
{
    Q_ASSERT(v.typeId() == QMetaType::QString);
    return *static_cast<const QString*>(v.constData());
}

int compareValues(const QVariant& a, const QVariant& b, FieldType type)
{
    const bool aNull = !a.isValid();
    const bool bNull = !b.isValid();
    if (aNull || bNull)
        return aNull == bNull ? 0 : (aNull ? -1 : 1);
    switch (type) {
    case FieldType::Integer: {
        const int x = a.toInt();
        const int y = b.toInt();
        return (x > y) - (x < y);
    }
    case FieldType::Float:
    case FieldType::Time: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return (x > y) - (x < y);
    }
    case FieldType::String: {
        int c = QString::compare(stringOf(a), stringOf(b), Qt::CaseInsensitive);
        if (c == 0)
            c = QString::compare(stringOf(a), stringOf(b), Qt::CaseSensitive);
        return (c > 0) - (c < 0);
    }
    }
    return 0;
}

QString variantTypeName(const QVariant& v)
{
    if (!v.isValid())
        return QStringLiteral("Null");
    switch (v.typeId()) {
    case QMetaType::Bool:
        return QStringLiteral("Boolean");
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return QStringLiteral("Integer");
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QStringLiteral("Int64");
    case QMetaType::Double:
    case QMetaType::Float:
        return QStringLiteral("Double");
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return QStringLiteral("String");
    default:
        return QString::fromLatin1(v.typeName());
    }
}

[[noreturn]] void cannotConvert(const QVariant& v, const char* target)
{
    throw EngineError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                          .arg(variantTypeName(v), QLatin1StringView(target)));
}

bool isText(const QVariant& v)
{
    return v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray;
}

bool isIntegral(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isNumber(const QVariant& v)
{
    return isIntegral(v) || v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

bool parseInt(const QString& text, int& value)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (!t.isEmpty() && !t.contains(QLatin1Char(' ')))
        value = t.toInt(&ok, 10);
    return ok;
}

// The decimal separator may be typed as ',' (Italian keyboards) or '.'.
bool parseFloat(const QString& text, double& value)
{
    QString t = text.trimmed();
    if (t.contains(QLatin1Char(',')) && !t.contains(QLatin1Char('.')))
        t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    value = t.toDouble(&ok);
    return ok && std::isfinite(value);
}

// "h", "h:m", "h:m:s" or "h:m:s.zzz", hours 0..23.
bool parseTimeText(const QString& text, double& dayFraction)
{
    const QString t = text.trimmed();
    const QStringList parts = t.split(QLatin1Char(':'));
    if (parts.size() > 3)
        return false;
    int values[3] = {0, 0, 0};
    int ms = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QStringView part = parts[i];
        if (i == 2) {
            const qsizetype dot = part.indexOf(QLatin1Char('.'));
            if (dot >= 0) {
                const QStringView frac = part.sliced(dot + 1);
                if (frac.isEmpty() || frac.size() > 3)
                    return false;
                for (const QChar c : frac) {
                    if (!c.isDigit())
                        return false;
                    ms = ms * 10 + c.digitValue();
                }
                for (qsizetype k = frac.size(); k < 3; ++k)
                    ms *= 10;
                part = part.first(dot);
            }
        }
        if (part.isEmpty() || part.size() > 2)
            return false;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        values[i] = part.toInt();
    }
    if (values[0] > 23 || values[1] > 59 || values[2] > 59)
        return false;
    dayFraction = ((values[0] * 3600 + values[1] * 60 + values[2]) * 1000 + ms) / msPerDay;
    return true;
}

// Characters no XML document can hold; they could never be saved.
QString withoutControls(QString s)
{
    s.removeIf([](QChar c) { return c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n'; });
    return s;
}

int roundToInt(const QVariant& v, double d)
{
    if (!std::isfinite(d) || d < double(std::numeric_limits<int>::min()) - 0.5 ||
        d > double(std::numeric_limits<int>::max()) + 0.5)
        throw EngineError(QStringLiteral("Overflow while converting variant of type (%1) into type (Integer)")
                              .arg(variantTypeName(v)));
    return int(std::nearbyint(d));
}

Datapacket readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(QStringLiteral("Cannot open file \"%1\". %2").arg(nativePath(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EngineError(QStringLiteral("Cannot read file \"%1\". %2").arg(nativePath(path), file.errorString()));
    try {
        return readDatapacket(bytes);
    } catch (const EngineError& e) {
        throw EngineError(QStringLiteral("Cannot load file \"%1\": %2").arg(nativePath(path), e.message()));
    }
}

// Table files are named without regard to case, so two spellings of one file are the same file.
bool samePath(const QString& a, const QString& b)
{
    return QFileInfo(a).absoluteFilePath().compare(QFileInfo(b).absoluteFilePath(), Qt::CaseInsensitive) == 0;
}

} // namespace

Table::Table(const QString& name, QObject* parent) : QObject(parent), m_name(name) {}

Table::~Table()
{
    if (!isOpen())
        return;
    // Never lose a lap: a table that is destroyed while open writes itself back like close().
    try {
        close();
    } catch (const std::exception& e) {
        qCWarning(lcTables) << "Table" << m_name << "not written back:" << e.what();
    }
}

// ---- Layout ----

void Table::checkOpen() const
{
    if (m_state == State::Inactive)
        throw EngineError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void Table::checkClosed() const
{
    if (m_state != State::Inactive)
        throw EngineError(QStringLiteral("Cannot perform this operation on an open dataset"));
}

void Table::fieldNotFound(const QString& name) const
{
    const QString message = QStringLiteral("Field '%1' not found").arg(name);
    throw EngineError(m_name.isEmpty() ? message : m_name + QStringLiteral(": ") + message);
}

int Table::fieldIndexIn(const QList<FieldDef>& fields, const QString& name, bool orThrow) const
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    if (orThrow)
        fieldNotFound(name);
    return -1;
}

void Table::clearFields()
{
    checkClosed();
    if (m_fields.isEmpty())
        return;
    m_fields.clear();
    emit reset();
}

void Table::addField(const QString& name, FieldType type, int size)
{
    checkClosed();
    if (name.trimmed().isEmpty())
        throw EngineError(QStringLiteral("A field needs a name"));
    if (fieldIndex(name) >= 0)
        throw EngineError(QStringLiteral("Duplicate field name '%1'").arg(name));
    if (size < 0)
        throw EngineError(QStringLiteral("Invalid size %1 for field '%2'").arg(size).arg(name));
    FieldDef def;
    def.name = name;
    def.type = type;
    def.size = type == FieldType::String ? (size > 0 ? size : 20) : 0;
    m_fields.append(def);
    emit reset();
}

int Table::fieldIndex(const QString& name) const
{
    return fieldIndexIn(m_fields, name, false);
}

int Table::fieldIndexOrThrow(const QString& name) const
{
    return fieldIndexIn(m_fields, name, true);
}

// ---- Indexes and order ----

void Table::clearIndexes()
{
    m_indexes.clear();
    if (m_indexName.isEmpty())
        return;
    m_indexName.clear();
    if (isOpen()) {
        leaveEdit();
        applyOrder(KeyOrder{});
    }
}

void Table::addIndex(const IndexDef& index)
{
    if (index.name.trimmed().isEmpty())
        throw EngineError(QStringLiteral("An index needs a name"));
    if (index.fields.trimmed().isEmpty())
        throw EngineError(QStringLiteral("Index '%1' has no fields").arg(index.name));
    for (const IndexDef& existing : std::as_const(m_indexes)) {
        if (existing.name.compare(index.name, Qt::CaseInsensitive) == 0)
            throw EngineError(QStringLiteral("Duplicate index name '%1'").arg(index.name));
    }
    m_indexes.append(index);
}

Table::KeyOrder Table::compileOrder(const QList<FieldDef>& fields, const QString& indexName,
                                    const QString& fieldNames) const
{
    KeyOrder order;
    QString list = fieldNames;
    if (!indexName.isEmpty()) {
        const auto it = std::find_if(m_indexes.cbegin(), m_indexes.cend(), [&](const IndexDef& d) {
            return d.name.compare(indexName, Qt::CaseInsensitive) == 0;
        });
        if (it == m_indexes.cend())
            throw EngineError(QStringLiteral("Index '%1' not found").arg(indexName));
        list = it->fields;
        order.descending = it->descending;
        order.unsetLast = it->unsetLast;
    }
    const QStringList names = list.split(QLatin1Char(';'));
    for (const QString& name : names) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty())
            order.fields.append(fieldIndexIn(fields, trimmed, true));
    }
    return order;
}

void Table::setIndexName(const QString& name)
{
    if (isOpen()) {
        if (name.compare(m_indexName, Qt::CaseInsensitive) == 0 && m_indexFieldNames.isEmpty())
            return;
        const KeyOrder order = compileOrder(m_fields, name, QString());
        leaveEdit();
        m_indexName = name;
        m_indexFieldNames.clear();
        applyOrder(order);
    } else {
        // The index must exist; its fields are checked on opening, when the layout is known.
        if (!name.isEmpty() && std::none_of(m_indexes.cbegin(), m_indexes.cend(), [&](const IndexDef& d) {
                return d.name.compare(name, Qt::CaseInsensitive) == 0;
            }))
            throw EngineError(QStringLiteral("Index '%1' not found").arg(name));
        m_indexName = name;
        m_indexFieldNames.clear();
    }
}

void Table::setIndexFieldNames(const QString& names)
{
    if (!isOpen()) {
        m_indexFieldNames = names;
        m_indexName.clear();
        return;
    }
    if (names == m_indexFieldNames && m_indexName.isEmpty())
        return;
    const KeyOrder order = compileOrder(m_fields, QString(), names);
    leaveEdit();
    m_indexFieldNames = names;
    m_indexName.clear();
    applyOrder(order);
}

int Table::compareRows(const Row* a, const Row* b) const
{
    for (const int f : m_keyOrder.fields) {
        if (m_keyOrder.unsetLast) {
            auto unset = [](const QVariant& v) { return !v.isValid() || v.toDouble() == 0; };
            const bool unsetA = unset(a->values[f]);
            const bool unsetB = unset(b->values[f]);
            if (unsetA != unsetB)
                return unsetA ? 1 : -1;
            if (unsetA)
                continue;
        }
        const int c = compareValues(a->values[f], b->values[f], m_fields[f].type);
        if (c != 0)
            return m_keyOrder.descending ? -c : c;
    }
    return 0;
}

// ---- Filter ----

std::optional<Table::FilterCondition> Table::compileFilter(const QList<FieldDef>& fields, const QString& text) const
{
    const QString expression = text.trimmed();
    if (expression.isEmpty())
        return std::nullopt;
    auto refuse = [&](const QString& why) {
        throw EngineError(QStringLiteral("Filter expression \"%1\": %2").arg(text, why));
    };
    const QString onlyEquals = QStringLiteral("only a comparison of one field with '=' is supported");
    const qsizetype eq = expression.indexOf(QLatin1Char('='));
    if (eq < 0)
        refuse(onlyEquals);
    QString name = expression.left(eq).trimmed();
    if (name.endsWith(QLatin1Char('<')) || name.endsWith(QLatin1Char('>')) || name.endsWith(QLatin1Char('!')))
        refuse(onlyEquals);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2).trimmed();
    if (name.isEmpty())
        refuse(QStringLiteral("a field name is expected before '='"));
    const QString value = expression.mid(eq + 1).trimmed();
    if (value.isEmpty())
        refuse(QStringLiteral("a value is expected after '='"));

    FilterCondition condition;
    condition.field = fieldIndexIn(fields, name, true);
    const bool textField = fields[condition.field].type == FieldType::String;
    if (value.startsWith(QLatin1Char('\''))) {
        // 'text', with '' standing for a quote
        QString s;
        qsizetype i = 1;
        bool terminated = false;
        while (i < value.size()) {
            if (value[i] == QLatin1Char('\'')) {
                if (i + 1 < value.size() && value[i + 1] == QLatin1Char('\'')) {
                    s += QLatin1Char('\'');
                    i += 2;
                    continue;
                }
                terminated = true;
                ++i;
                break;
            }
            s += value[i++];
        }
        if (!terminated)
            refuse(QStringLiteral("the quoted text is not terminated"));
        if (i != value.size())
            refuse(onlyEquals);
        if (!textField)
            refuse(QStringLiteral("field '%1' needs a number, not a quoted text").arg(name));
        condition.text = s;
    } else {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || !std::isfinite(number))
            refuse(QStringLiteral("'%1' is neither a number nor a quoted text").arg(value));
        if (textField)
            refuse(QStringLiteral("field '%1' needs a quoted text, not a number").arg(name));
        condition.numeric = true;
        condition.number = number;
    }
    return condition;
}

bool Table::matches(const Row* row) const
{
    if (!m_filter)
        return true;
    const QVariant& v = row->values[m_filter->field];
    if (!v.isValid())
        return false;
    if (m_filter->numeric)
        return v.toDouble() == m_filter->number;
    return stringOf(v) == m_filter->text;
}

void Table::setFilter(const QString& expression)
{
    if (!m_filtered || !isOpen()) {
        m_filterText = expression;
        return;
    }
    const std::optional<FilterCondition> condition = compileFilter(m_fields, expression);
    leaveEdit();
    m_filterText = expression;
    m_filter = condition;
    rebuildVisible();
    emit reset();
    setCursor(m_visible.empty() ? -1 : 0, true, m_visible.empty(), true);
}

void Table::setFiltered(bool on)
{
    if (on == m_filtered)
        return;
    if (!isOpen()) {
        m_filtered = on;
        return;
    }
    std::optional<FilterCondition> condition;
    if (on)
        condition = compileFilter(m_fields, m_filterText);
    leaveEdit();
    m_filtered = on;
    m_filter = condition;
    rebuildVisible();
    emit reset();
    setCursor(m_visible.empty() ? -1 : 0, true, m_visible.empty(), true);
}

// ---- Rows and order ----

void Table::rebuildOrder()
{
    m_order.clear();
    m_order.reserve(m_rows.size());
    for (const auto& row : m_rows)
        m_order.push_back(row.get());
    if (!m_keyOrder.fields.isEmpty())
        std::stable_sort(m_order.begin(), m_order.end(),
                         [this](const Row* a, const Row* b) { return compareRows(a, b) < 0; });
}

void Table::rebuildVisible()
{
    m_visible.clear();
    m_visible.reserve(m_order.size());
    for (Row* row : m_order) {
        row->visible = matches(row);
        if (row->visible)
            m_visible.push_back(row);
    }
}

void Table::applyOrder(const KeyOrder& order)
{
    Row* current = m_current >= 0 ? m_visible[m_current] : nullptr;
    m_keyOrder = order;
    rebuildOrder();
    rebuildVisible();
    emit reset();
    int row = -1;
    if (current)
        row = int(std::find(m_visible.begin(), m_visible.end(), current) - m_visible.begin());
    if (row < 0 || row >= int(m_visible.size()))
        row = m_visible.empty() ? -1 : 0;
    setCursor(row, row <= 0, m_visible.empty(), true);
}

int Table::insertIntoOrder(qsizetype orderPosition, Row* row)
{
    m_order.insert(m_order.begin() + orderPosition, row);
    if (!row->visible)
        return -1;
    qsizetype visiblePosition = orderPosition;
    if (m_filter) {
        visiblePosition = 0;
        for (qsizetype i = 0; i < orderPosition; ++i) {
            if (m_order[i]->visible)
                ++visiblePosition;
        }
    }
    m_visible.insert(m_visible.begin() + visiblePosition, row);
    return int(visiblePosition);
}

int Table::removeFromOrder(Row* row)
{
    const auto it = std::find(m_order.begin(), m_order.end(), row);
    if (it != m_order.end())
        m_order.erase(it);
    const auto v = std::find(m_visible.begin(), m_visible.end(), row);
    if (v == m_visible.end())
        return -1;
    const int position = int(v - m_visible.begin());
    m_visible.erase(v);
    return position;
}

void Table::destroyRow(Row* row)
{
    const auto it =
        std::find_if(m_rows.begin(), m_rows.end(), [row](const std::unique_ptr<Row>& r) { return r.get() == row; });
    if (it != m_rows.end())
        m_rows.erase(it);
}

void Table::clearRows()
{
    m_visible.clear();
    m_order.clear();
    m_rows.clear();
    m_editRow = nullptr;
    m_returnRow = nullptr;
    m_buffer.clear();
    m_editModified = false;
    m_appending = false;
}

// Equal keys: an appended row goes after them; an inserted or re-keyed row goes before them.
void Table::placeRow(Row* row, bool afterEqualKeys)
{
    qsizetype position = qsizetype(m_order.size());
    if (!m_keyOrder.fields.isEmpty()) {
        const auto less = [this](const Row* a, const Row* b) { return compareRows(a, b) < 0; };
        const auto it = afterEqualKeys ? std::upper_bound(m_order.begin(), m_order.end(), row, less)
                                       : std::lower_bound(m_order.begin(), m_order.end(), row, less);
        position = it - m_order.begin();
    }
    insertIntoOrder(position, row);
}

// ---- Life ----

void Table::createTable()
{
    if (m_fields.isEmpty())
        throw EngineError(QStringLiteral("Cannot create a dataset without fields"));
    const KeyOrder order = compileOrder(m_fields, m_indexName, m_indexFieldNames);
    const std::optional<FilterCondition> filter = m_filtered ? compileFilter(m_fields, m_filterText) : std::nullopt;
    close();
    install(Datapacket{m_fields, {}}, order, filter, QString());
}

void Table::setFileName(const QString& path)
{
    m_fileName = path;
}

QString Table::resolvePath(const QString& path) const
{
    const QFileInfo info(path);
    return paths::findFile(info.path(), info.fileName());
}

bool Table::linkedTo(const QString& resolvedPath) const
{
    return !m_sourcePath.isEmpty() && samePath(resolvedPath, m_sourcePath);
}

bool Table::needsWriteBack() const
{
    return m_changed && !m_fileName.isEmpty() && linkedTo(resolvePath(m_fileName));
}

void Table::open()
{
    if (isOpen())
        return;
    if (m_fileName.isEmpty())
        throw EngineError(QStringLiteral("Missing data provider or data packet"));
    const QString path = resolvePath(m_fileName);
    Datapacket packet = readFile(path);
    const KeyOrder order = compileOrder(packet.fields, m_indexName, m_indexFieldNames);
    const std::optional<FilterCondition> filter =
        m_filtered ? compileFilter(packet.fields, m_filterText) : std::nullopt;
    install(std::move(packet), order, filter, path);
}

void Table::loadFromFile(const QString& path)
{
    const QString resolved = resolvePath(path);
    // Read and check everything first: a file that cannot be loaded leaves the table as it was.
    Datapacket packet = readFile(resolved);
    const KeyOrder order = compileOrder(packet.fields, m_indexName, m_indexFieldNames);
    const std::optional<FilterCondition> filter =
        m_filtered ? compileFilter(packet.fields, m_filterText) : std::nullopt;
    if (isOpen()) {
        leaveEdit();
        const bool rewritesSource = needsWriteBack() && samePath(resolvePath(m_fileName), resolved);
        close();
        if (rewritesSource)
            packet = readFile(resolved); // close() just wrote newer rows to the very file being loaded
    }
    install(std::move(packet), order, filter, resolved);
}

void Table::install(Datapacket&& packet, const KeyOrder& order, const std::optional<FilterCondition>& filter,
                    const QString& sourcePath)
{
    clearRows();
    m_fields = std::move(packet.fields);
    const qsizetype fieldCount = m_fields.size();
    m_rows.reserve(packet.rows.size());
    for (QVariantList& values : packet.rows) {
        auto row = std::make_unique<Row>();
        values.resize(fieldCount);
        row->values = std::move(values);
        m_rows.push_back(std::move(row));
    }
    // A file may hold a longer text than its declared width: widen the field rather than cut the data.
    for (qsizetype f = 0; f < fieldCount; ++f) {
        if (m_fields[f].type != FieldType::String)
            continue;
        for (const auto& row : m_rows) {
            const QVariant& v = row->values[f];
            if (v.isValid() && stringOf(v).size() > m_fields[f].size)
                m_fields[f].size = int(stringOf(v).size());
        }
    }
    m_keyOrder = order;
    m_filter = filter;
    rebuildOrder();
    rebuildVisible();
    m_sourcePath = sourcePath;
    m_params = std::move(packet.params);
    m_changed = false;
    const bool stateChange = m_state != State::Browse;
    m_state = State::Browse;
    m_current = m_visible.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_visible.empty();
    emit reset();
    if (stateChange)
        emit stateChanged(m_state);
    emit cursorMoved(m_current);
}

void Table::saveToFile(const QString& path)
{
    checkOpen();
    leaveEdit();
    const QString target = path.isEmpty() ? m_fileName : path;
    if (target.isEmpty())
        throw EngineError(QStringLiteral("Missing file name"));
    const QString resolved = resolvePath(target);

    QList<QVariantList> rows;
    rows.reserve(qsizetype(m_rows.size()));
    for (const auto& row : m_rows)
        rows.append(row->values);
    const QByteArray data = writeDatapacket(m_fields, rows, m_params);

    // Written aside and renamed over the old file: a full disk or a crash never leaves half a table.
    // Unbuffered, because a buffered QSaveFile drops a short write (file size limit, quota) and still
    // commits the truncated file.
    QSaveFile file(resolved);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw IoError(QStringLiteral("Cannot create file \"%1\". %2").arg(nativePath(resolved), file.errorString()));
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 n = file.write(data.constData() + written, data.size() - written);
        if (n <= 0)
            break;
        written += n;
    }
    if (written != data.size() || file.size() != data.size() || !file.commit()) {
        const QString reason = file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("Disk full");
        file.cancelWriting();
        throw IoError(QStringLiteral("Cannot write file \"%1\". %2").arg(nativePath(resolved), reason));
    }
    if (m_sourcePath.isEmpty() || linkedTo(resolved))
        m_changed = false;
}

void Table::close()
{
    if (!isOpen())
        return;
    leaveEdit();
    if (needsWriteBack())
        saveToFile(m_fileName); // on failure the table stays open with its rows
    clearRows();
    m_sourcePath.clear();
    m_changed = false;
    m_state = State::Inactive;
    m_current = -1;
    m_bof = true;
    m_eof = true;
    emit reset();
    emit stateChanged(m_state);
    emit cursorMoved(m_current);
}

// ---- Cursor ----

void Table::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void Table::setCursor(int row, bool bof, bool eof, bool notify)
{
    m_bof = bof;
    m_eof = eof;
    if (row == m_current && !notify)
        return;
    m_current = row;
    emit cursorMoved(row);
}

Table::Leave Table::leaveEdit()
{
    Leave leave;
    if (m_state != State::Edit && m_state != State::Insert)
        return leave;
    if (m_editModified) {
        post();
        return leave;
    }
    leave.removed = m_state == State::Insert;
    leave.position = m_current;
    cancel();
    return leave;
}

void Table::finishEdit()
{
    checkOpen();
    leaveEdit();
}

int Table::recordCount() const
{
    return isOpen() ? int(m_visible.size()) : 0;
}

void Table::first()
{
    checkOpen();
    leaveEdit();
    const bool empty = m_visible.empty();
    setCursor(empty ? -1 : 0, true, empty);
}

void Table::last()
{
    checkOpen();
    leaveEdit();
    const bool empty = m_visible.empty();
    setCursor(int(m_visible.size()) - 1, empty, true);
}

void Table::next()
{
    checkOpen();
    const Leave leave = leaveEdit();
    const int count = int(m_visible.size());
    if (count == 0) {
        setCursor(-1, true, true);
        return;
    }
    // From a dropped new row, the next row is the one that followed it.
    const int target = leave.removed ? leave.position : m_current + 1;
    if (target >= count)
        setCursor(count - 1, false, true);
    else
        setCursor(target, false, false);
}

void Table::prior()
{
    checkOpen();
    const Leave leave = leaveEdit();
    const int count = int(m_visible.size());
    if (count == 0) {
        setCursor(-1, true, true);
        return;
    }
    const int target = leave.removed ? leave.position - 1 : m_current - 1;
    if (target < 0)
        setCursor(0, true, false);
    else
        setCursor(std::min(target, count - 1), false, false);
}

void Table::moveTo(int row)
{
    checkOpen();
    leaveEdit();
    const int count = int(m_visible.size());
    if (count == 0)
        setCursor(-1, true, true);
    else if (row < 0)
        setCursor(0, true, false);
    else if (row >= count)
        setCursor(count - 1, false, true);
    else
        setCursor(row, false, false);
}

// ---- Editing ----

void Table::edit()
{
    checkOpen();
    if (m_state == State::Edit || m_state == State::Insert)
        return;
    if (m_visible.empty()) {
        append(); // editing an empty table starts its first row
        return;
    }
    m_editRow = m_visible[m_current];
    m_buffer = m_editRow->values;
    m_editModified = false;
    setState(State::Edit);
}

void Table::post()
{
    checkOpen();
    if (m_state != State::Edit && m_state != State::Insert)
        return;
    const bool inserting = m_state == State::Insert;
    if (!inserting && !m_editModified) {
        m_editRow = nullptr;
        m_buffer.clear();
        setState(State::Browse);
        return;
    }
    Row* row = m_editRow;
    const int oldPosition = m_current;
    bool keyChanged = inserting;
    for (const int f : std::as_const(m_keyOrder.fields)) {
        if (compareValues(row->values[f], m_buffer[f], m_fields[f].type) != 0)
            keyChanged = true;
    }
    const bool afterEqualKeys = inserting && m_appending;
    row->values = std::move(m_buffer);
    m_buffer = QVariantList();
    m_editRow = nullptr;
    m_returnRow = nullptr;
    m_editModified = false;
    m_appending = false;
    m_changed = true;
    m_state = State::Browse;

    int newPosition;
    if (keyChanged && !m_keyOrder.fields.isEmpty()) {
        removeFromOrder(row);
        row->visible = matches(row);
        placeRow(row, afterEqualKeys);
        newPosition = row->visible ? int(std::find(m_visible.begin(), m_visible.end(), row) - m_visible.begin()) : -1;
    } else {
        row->visible = matches(row);
        newPosition = oldPosition;
        if (!row->visible) {
            m_visible.erase(m_visible.begin() + oldPosition);
            newPosition = -1;
        }
    }

    if (newPosition < 0) {
        emit rowRemoved(oldPosition);
    } else {
        if (newPosition != oldPosition)
            emit rowMoved(oldPosition, newPosition);
        emit rowChanged(newPosition);
    }
    emit stateChanged(m_state);
    if (newPosition >= 0) {
        setCursor(newPosition, false, false, true);
    } else {
        // The row left the filter: the cursor goes to the row now in its place.
        const int count = int(m_visible.size());
        setCursor(count == 0 ? -1 : std::min(oldPosition, count - 1), count == 0, count == 0, true);
    }
}

void Table::cancel()
{
    checkOpen();
    if (m_state == State::Edit) {
        const bool modified = m_editModified;
        m_editRow = nullptr;
        m_buffer.clear();
        m_editModified = false;
        m_state = State::Browse;
        if (modified)
            emit rowChanged(m_current);
        emit stateChanged(m_state);
        return;
    }
    if (m_state != State::Insert)
        return;
    Row* row = m_editRow;
    Row* back = m_returnRow;
    const int position = m_current;
    m_editRow = nullptr;
    m_returnRow = nullptr;
    m_buffer.clear();
    m_editModified = false;
    m_appending = false;
    removeFromOrder(row);
    destroyRow(row);
    m_state = State::Browse;
    emit rowRemoved(position);
    emit stateChanged(m_state);
    const int count = int(m_visible.size());
    int target = -1;
    if (back)
        target = int(std::find(m_visible.begin(), m_visible.end(), back) - m_visible.begin());
    if (target < 0 || target >= count)
        target = count == 0 ? -1 : std::min(position, count - 1);
    setCursor(target, count == 0, count == 0, true);
}

void Table::insert()
{
    checkOpen();
    leaveEdit();
    Row* before = m_visible.empty() ? nullptr : m_visible[m_current];
    auto owned = std::make_unique<Row>();
    Row* row = owned.get();
    row->values = QVariantList(m_fields.size());
    auto storedAt = m_rows.end();
    auto orderAt = m_order.end();
    if (before) {
        storedAt = std::find_if(m_rows.begin(), m_rows.end(),
                                [before](const std::unique_ptr<Row>& r) { return r.get() == before; });
        orderAt = std::find(m_order.begin(), m_order.end(), before);
    }
    m_rows.insert(storedAt, std::move(owned));
    const int position = insertIntoOrder(orderAt - m_order.begin(), row);
    m_editRow = row;
    m_buffer = row->values;
    m_editModified = false;
    m_appending = false;
    m_returnRow = before;
    m_state = State::Insert;
    emit rowInserted(position);
    emit stateChanged(m_state);
    setCursor(position, false, false, true);
}

void Table::append()
{
    checkOpen();
    leaveEdit();
    Row* back = m_visible.empty() ? nullptr : m_visible[m_current];
    auto owned = std::make_unique<Row>();
    Row* row = owned.get();
    row->values = QVariantList(m_fields.size());
    m_rows.push_back(std::move(owned));
    const int position = insertIntoOrder(qsizetype(m_order.size()), row);
    m_editRow = row;
    m_buffer = row->values;
    m_editModified = false;
    m_appending = true;
    m_returnRow = back;
    m_state = State::Insert;
    emit rowInserted(position);
    emit stateChanged(m_state);
    setCursor(position, false, false, true);
}

void Table::appendRecord(const QVariantList& values)
{
    checkOpen();
    leaveEdit();
    if (values.size() > m_fields.size())
        throw EngineError(QStringLiteral("%1 values given for %2 fields").arg(values.size()).arg(m_fields.size()));
    QVariantList converted(m_fields.size());
    for (qsizetype i = 0; i < values.size(); ++i)
        converted[i] = convertValue(int(i), values[i]);
    auto owned = std::make_unique<Row>();
    Row* row = owned.get();
    row->values = std::move(converted);
    row->visible = matches(row);
    m_rows.push_back(std::move(owned));
    placeRow(row, true);
    m_changed = true;
    if (!row->visible)
        return;
    const int position = int(std::find(m_visible.begin(), m_visible.end(), row) - m_visible.begin());
    emit rowInserted(position);
    setCursor(position, false, false, true);
}

void Table::deleteRecord()
{
    checkOpen();
    if (m_state == State::Insert) {
        cancel(); // the new row was never posted: deleting it drops it
        return;
    }
    if (m_state == State::Edit)
        cancel();
    if (m_visible.empty())
        throw EngineError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    const int position = m_current;
    Row* row = m_visible[position];
    removeFromOrder(row);
    destroyRow(row);
    m_changed = true;
    emit rowRemoved(position);
    const int count = int(m_visible.size());
    if (count == 0)
        setCursor(-1, true, true, true);
    else if (position >= count)
        setCursor(count - 1, false, true, true);
    else
        setCursor(position, false, false, true);
}

void Table::emptyTable()
{
    checkOpen();
    if (!m_rows.empty())
        m_changed = true;
    clearRows();
    const bool stateChange = m_state != State::Browse;
    m_state = State::Browse;
    emit reset();
    if (stateChange)
        emit stateChanged(m_state);
    setCursor(-1, true, true, true);
}

// ---- Field access ----

QVariant Table::convertValue(int field, const QVariant& value) const
{
    if (!value.isValid())
        return {};
    const FieldDef& def = m_fields[field];
    switch (def.type) {
    case FieldType::Integer: {
        if (isText(value)) {
            const QString text = value.toString();
            if (text.trimmed().isEmpty())
                return {};
            int v = 0;
            if (!parseInt(text, v))
                throw EngineError(QStringLiteral("'%1' is not a valid integer value").arg(text));
            return v;
        }
        if (isIntegral(value)) {
            bool ok = false;
            const qlonglong v = value.toLongLong(&ok);
            if (!ok || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max() ||
                (value.typeId() == QMetaType::ULongLong && value.toULongLong() > quint64(v)))
                throw EngineError(QStringLiteral("Overflow while converting variant of type (%1) into type (Integer)")
                                      .arg(variantTypeName(value)));
            return int(v);
        }
        if (isNumber(value))
            return roundToInt(value, value.toDouble());
        cannotConvert(value, "Integer");
    }
    case FieldType::Float: {
        if (isText(value)) {
            const QString text = value.toString();
            if (text.trimmed().isEmpty())
                return {};
            double v = 0;
            if (!parseFloat(text, v))
                throw EngineError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
            return v;
        }
        if (isNumber(value)) {
            const double v = value.toDouble();
            if (!std::isfinite(v))
                throw EngineError(QStringLiteral("'%1' is not a valid floating point value").arg(v));
            return v;
        }
        cannotConvert(value, "Double");
    }
    case FieldType::Time: {
        if (isText(value)) {
            const QString text = value.toString();
            if (text.trimmed().isEmpty())
                return {};
            double v = 0;
            if (!parseTimeText(text, v))
                throw EngineError(QStringLiteral("'%1' is not a valid time").arg(text));
            return v;
        }
        if (isNumber(value)) {
            const double v = value.toDouble();
            if (!std::isfinite(v))
                throw EngineError(QStringLiteral("'%1' is not a valid time").arg(v));
            return roundTime(v);
        }
        if (value.typeId() == QMetaType::QTime) {
            const QTime t = value.toTime();
            if (!t.isValid())
                return {};
            return t.msecsSinceStartOfDay() / msPerDay;
        }
        cannotConvert(value, "Time");
    }
    case FieldType::String: {
        if (def.keepsFileText())
            return fileTextValue(def, value);
        QString text;
        if (isText(value))
            text = value.toString();
        else if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
            text = displayText(value.toDouble(), FieldType::Float);
        else if (value.canConvert<QString>())
            text = value.toString();
        else
            cannotConvert(value, "String");
        text = withoutControls(std::move(text));
        if (text.size() > def.size)
            text.truncate(def.size);
        return text;
    }
    }
    return {};
}

const QVariant& Table::currentValue(int field) const
{
    static const QVariant null;
    if (m_state == State::Edit || m_state == State::Insert)
        return m_buffer[field];
    if (m_current < 0)
        return null;
    return m_visible[m_current]->values[field];
}

QVariant Table::value(const QString& field) const
{
    checkOpen();
    return currentValue(fieldIndexOrThrow(field));
}

void Table::setValue(const QString& field, const QVariant& value)
{
    checkOpen();
    const int f = fieldIndexOrThrow(field);
    if (m_state != State::Edit && m_state != State::Insert)
        throw EngineError(QStringLiteral("Dataset not in edit or insert mode"));
    m_buffer[f] = convertValue(f, value);
    m_editModified = true;
    emit rowChanged(m_current);
}

QVariant Table::valueAt(int row, int field) const
{
    checkOpen();
    if (row < 0 || row >= int(m_visible.size()) || field < 0 || field >= fieldCount())
        throw EngineError(QStringLiteral("Row %1, field %2 out of range").arg(row).arg(field));
    if (row == m_current && (m_state == State::Edit || m_state == State::Insert))
        return m_buffer[field];
    return m_visible[row]->values[field];
}

int Table::orderedRowCount() const
{
    return isOpen() ? int(m_order.size()) : 0;
}

QVariant Table::orderedValueAt(int row, int field) const
{
    checkOpen();
    if (row < 0 || row >= int(m_order.size()) || field < 0 || field >= fieldCount())
        throw EngineError(QStringLiteral("Row %1, field %2 out of range").arg(row).arg(field));
    return m_order[row]->values[field];
}

int Table::asInteger(const QString& field) const
{
    checkOpen();
    const int f = fieldIndexOrThrow(field);
    const QVariant& v = currentValue(f);
    if (!v.isValid())
        cannotConvert(v, "Integer");
    switch (m_fields[f].type) {
    case FieldType::Integer:
        return v.toInt();
    case FieldType::Float:
    case FieldType::Time:
        return roundToInt(v, v.toDouble());
    case FieldType::String: {
        int result = 0;
        if (!parseInt(stringOf(v), result))
            throw EngineError(QStringLiteral("'%1' is not a valid integer value").arg(stringOf(v)));
        return result;
    }
    }
    return 0;
}

QString Table::asString(const QString& field) const
{
    checkOpen();
    const int f = fieldIndexOrThrow(field);
    const QVariant& v = currentValue(f);
    if (!v.isValid())
        cannotConvert(v, "String");
    return displayText(v, m_fields[f].type);
}

double Table::asFloat(const QString& field) const
{
    checkOpen();
    const int f = fieldIndexOrThrow(field);
    const QVariant& v = currentValue(f);
    if (!v.isValid())
        cannotConvert(v, "Double");
    if (m_fields[f].type == FieldType::String) {
        double result = 0;
        if (!parseFloat(stringOf(v), result))
            throw EngineError(QStringLiteral("'%1' is not a valid floating point value").arg(stringOf(v)));
        return result;
    }
    return v.toDouble();
}

double Table::roundTime(double dayFraction)
{
    return double(dayFractionToMs(dayFraction)) / msPerDay;
}

QString Table::displayText(const QVariant& value, FieldType type)
{
    if (!value.isValid())
        return QString();
    switch (type) {
    case FieldType::Integer:
        return QString::number(value.toInt());
    case FieldType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case FieldType::Time:
        return QTime::fromMSecsSinceStartOfDay(int(dayFractionToMs(value.toDouble())))
            .toString(QStringLiteral("hh:mm:ss.zzz"));
    case FieldType::String:
        return value.toString();
    }
    return QString();
}
