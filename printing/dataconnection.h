#pragma once

#include "printing/reportdata.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class Table;

// Presents one table to the reports under the connection's name (its objectName).
class DataConnection : public QObject
{
    Q_OBJECT
public:
    DataConnection(const QString& name, Table* table, QObject* parent = nullptr);

    Table* table() const { return m_table; }
    void setTable(Table* table) { m_table = table; }

    // The given fields of the rows that the table's filter lets through, in its current order, from
    // the first row. A closed table is opened for the reading (it loads its file) and closed again; an
    // open table is read where it stands, so its filter, order, current row and any edit in progress
    // stay as they were. Raises the table engine's error when the table cannot be opened or lacks a
    // field; the table is then left as it was.
    ReportData read(const QStringList& fieldNames) const;

private:
    QPointer<Table> m_table;
};
