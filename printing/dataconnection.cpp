#include "printing/dataconnection.h"

#include "tables/table.h"

int ReportData::fieldIndex(const QString& name) const
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

DataConnection::DataConnection(const QString& name, Table* table, QObject* parent) : QObject(parent), m_table(table)
{
    setObjectName(name);
}

namespace {

ReportData readRows(const Table& table, const QStringList& fieldNames)
{
    ReportData data;
    QList<int> columns;
    for (const QString& name : fieldNames) {
        const int f = table.fieldIndexOrThrow(name);
        columns.append(f);
        data.fields.append(table.fields().at(f));
    }
    // valueAt() reads without moving the cursor, so an open table keeps its current row.
    const int count = table.recordCount();
    data.rows.reserve(count);
    for (int row = 0; row < count; ++row) {
        QVariantList values;
        values.reserve(columns.size());
        for (int f : columns)
            values.append(table.valueAt(row, f));
        data.rows.append(values);
    }
    return data;
}

} // namespace

ReportData DataConnection::read(const QStringList& fieldNames) const
{
    if (!m_table)
        throw AppError(QStringLiteral("The data connection %1 has no table").arg(objectName()));
    if (m_table->isOpen())
        return readRows(*m_table, fieldNames);

    m_table->open();
    ReportData data;
    try {
        data = readRows(*m_table, fieldNames);
    } catch (...) {
        m_table->close();
        throw;
    }
    m_table->close();
    return data;
}
