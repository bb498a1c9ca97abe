#pragma once

#include "tables/error.h"

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcTables)

enum class FieldType { Integer, String, Float, Time };

// How a field is stored in a datapacket file, kept from the file it was read from so that a save writes it back
// the same way. A column of a type the engine does not compute with (date, dateTime, boolean, i8, ui4, ui8,
// bin.hex memos and blobs) is a String field holding each value as the file's text; `type` names its file type.
struct FieldStorage
{
    QString type;    // the file's fieldtype; empty: the engine's own for the field (i4, string, r8, time)
    QString subtype; // SUBTYPE: "Text", "Binary", "Money", "Autoinc", ...
    int width = 0;   // WIDTH of a field other than a text (a text's WIDTH is its size); 0 when absent
    int decimals = 0;
    bool readOnly = false;
    bool required = false;
    bool hidden = false;
    bool linkField = false;

    bool operator==(const FieldStorage&) const = default;
};

struct FieldDef
{
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // strings: maximum length; 20 when 0
    FieldStorage storage = {};

    // A String field that holds the file text of another type: values are checked against that type, not cut.
    bool keepsFileText() const;
};

// The PARAMS attributes a datapacket keeps across a load and a save (LCID, PRIMARY_KEY, DEFAULT_ORDER),
// as name and value in file order.
using DatapacketParams = QList<std::pair<QString, QString>>;

struct Datapacket;

struct IndexDef
{
    QString name;
    QString fields; // one field name (';'-separated list allowed)
    bool primary = false;
    bool descending = false;
    bool unsetLast = false; // empty and zero values sort after all others, among themselves in engine order
};

// An in-memory table with fields, indexes, a filter, a cursor with edit/insert/post/cancel,
// and XML datapacket files. Values are QVariant: int (Integer), QString (String), double (Float),
// double day fraction (Time); an invalid QVariant is null.
//
// Row order: the active index (IndexName or IndexFieldNames) orders the rows; with none, rows keep
// stored order. Equal keys: an appended row goes after the rows with the same key; a posted row
// whose key changed goes before the rows with its new key, and the cursor stays on it.
class Table : public QObject
{
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };
    Q_ENUM(State)

    explicit Table(const QString& name = QString(), QObject* parent = nullptr);
    ~Table() override;

    // Layout
    void clearFields();
    void addField(const QString& name, FieldType type, int size = 0);
    const QList<FieldDef>& fields() const { return m_fields; }
    int fieldCount() const { return int(m_fields.size()); }
    int fieldIndex(const QString& name) const;        // case-insensitive; -1 when absent
    int fieldIndexOrThrow(const QString& name) const; // "<table>: Field 'x' not found"

    // Indexes and order
    void clearIndexes();
    void addIndex(const IndexDef& index);
    const QList<IndexDef>& indexes() const { return m_indexes; }
    void setIndexName(const QString& name); // selects a defined index; clears the index field names
    QString indexName() const { return m_indexName; }
    void setIndexFieldNames(const QString& names); // "a;b", ascending, names matched without case
    QString indexFieldNames() const { return m_indexFieldNames; }

    // Filter: "field = 3" or "field = 'B'"; anything else raises an EngineError when applied.
    void setFilter(const QString& expression);
    QString filter() const { return m_filterText; }
    void setFiltered(bool on);
    bool filtered() const { return m_filtered; }

    // Life
    void createTable(); // an empty open table with the defined fields
    void setFileName(const QString& path);
    QString fileName() const { return m_fileName; }
    void open();                                      // loads layout and rows from fileName()
    void loadFromFile(const QString& path);           // closes, then loads; does not change fileName()
    void saveToFile(const QString& path = QString()); // XML datapacket, atomic
    void close(); // writes back to fileName() when opened from it and changed since load or save
    bool isOpen() const { return m_state != State::Inactive; }
    State state() const { return m_state; }
    bool changedSinceSave() const { return m_changed; }

    // Cursor over the visible rows (filter and order applied)
    void first();
    void next();
    void prior();
    void last();
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    int recordCount() const;                     // visible rows
    int currentRow() const { return m_current; } // visible row, -1 when none
    void moveTo(int row);                        // like first/next: posts a modified edit, cancels an unmodified one
    bool isEmpty() const { return recordCount() == 0; }

    // Editing
    void edit();
    void post();
    void cancel();
    void insert();                                 // a new empty row before the current one
    void append();                                 // a new empty row at the end
    void appendRecord(const QVariantList& values); // add and post in one step
    void deleteRecord();
    void emptyTable();
    bool editModified() const { return m_editModified; }
    void finishEdit(); // what moving does first: posts a modified edit, cancels an unmodified one

    // Field access on the current row (the edit buffer while editing)
    QVariant value(const QString& field) const;                 // null on an empty table
    void setValue(const QString& field, const QVariant& value); // needs Edit or Insert state
    QVariant valueAt(int row, int field) const;                 // visible row, no cursor move
    // Every row in the active order with the filter ignored, posted values, no cursor move: readers
    // such as the live results page see all heats while the race window shows one.
    int orderedRowCount() const;
    QVariant orderedValueAt(int row, int field) const;

    // Typed reads with the engine's conversion errors,
    // e.g. "Could not convert variant of type (Null) into type (Integer)".
    int asInteger(const QString& field) const;
    QString asString(const QString& field) const;
    double asFloat(const QString& field) const;

    // Rounding of time values: to the millisecond, as stored.
    static double roundTime(double dayFraction);
    // A value as text: integers, floats in their shortest form with '.', times as hh:mm:ss.zzz; "" for null.
    static QString displayText(const QVariant& value, FieldType type);

signals:
    void reset();                    // open, close, load, order, filter, empty, layout
    void rowChanged(int row);        // values of a visible row changed
    void rowInserted(int row);       // a visible row appeared at row
    void rowRemoved(int row);        // a visible row disappeared
    void rowMoved(int from, int to); // a posted row moved within the order (to = index after removal)
    void cursorMoved(int row);
    void stateChanged(Table::State state);

private:
    struct Row;
    struct KeyOrder
    {
        QList<int> fields;
        bool descending = false;
        bool unsetLast = false;
    };
    struct FilterCondition
    {
        int field = -1;
        bool numeric = false;
        double number = 0;
        QString text;
    };
    struct Leave
    {
        bool removed = false; // the current row was a cancelled insert
        int position = -1;    // where it stood
    };

    void checkOpen() const;
    void checkClosed() const;
    [[noreturn]] void fieldNotFound(const QString& name) const;
    int fieldIndexIn(const QList<FieldDef>& fields, const QString& name, bool orThrow) const;
    KeyOrder compileOrder(const QList<FieldDef>& fields, const QString& indexName, const QString& fieldNames) const;
    std::optional<FilterCondition> compileFilter(const QList<FieldDef>& fields, const QString& text) const;
    QVariant convertValue(int field, const QVariant& value) const;
    const QVariant& currentValue(int field) const;
    int compareRows(const Row* a, const Row* b) const;
    bool matches(const Row* row) const;

    Leave leaveEdit();
    void setState(State state);
    void setCursor(int row, bool bof, bool eof, bool notify = false);
    void rebuildOrder();
    void rebuildVisible();
    void applyOrder(const KeyOrder& order);
    int insertIntoOrder(qsizetype orderPosition, Row* row);
    int removeFromOrder(Row* row);
    void destroyRow(Row* row);
    void clearRows();
    void placeRow(Row* row, bool afterEqualKeys);
    QString resolvePath(const QString& path) const;
    bool linkedTo(const QString& resolvedPath) const;
    bool needsWriteBack() const;
    void install(Datapacket&& packet, const KeyOrder& order, const std::optional<FilterCondition>& filter,
                 const QString& sourcePath);

    QString m_name;
    QList<FieldDef> m_fields;
    QList<IndexDef> m_indexes;
    QString m_indexName;
    QString m_indexFieldNames;
    QString m_filterText;
    bool m_filtered = false;
    QString m_fileName;
    State m_state = State::Inactive;
    bool m_changed = false;
    bool m_editModified = false;
    bool m_eof = true;
    bool m_bof = true;
    int m_current = -1;

    std::vector<std::unique_ptr<Row>> m_rows; // stored (append) order, the order written to files
    std::vector<Row*> m_order;                // walk order of the active index
    std::vector<Row*> m_visible;              // m_order through the filter
    KeyOrder m_keyOrder;
    std::optional<FilterCondition> m_filter; // in force while filtered
    Row* m_editRow = nullptr;
    QVariantList m_buffer;
    bool m_appending = false;   // Insert state: started by append() rather than insert()
    Row* m_returnRow = nullptr; // Insert state: the row a cancel returns to
    QString m_sourcePath;       // the file the rows were loaded from
    DatapacketParams m_params;  // of the file the rows were loaded from, written back by a save
};
