#pragma once

#include "tables/table.h"

#include <QList>
#include <QVariant>

// The rows a data connection hands to a report: the requested fields, with the table's types, and
// their values row by row in the table's order.
struct ReportData
{
    QList<FieldDef> fields;
    QList<QVariantList> rows;

    int fieldIndex(const QString& name) const; // case-insensitive; -1 when absent
};
