#pragma once

#include "tables/table.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// The content of an XML datapacket file: the layout and the current rows, values in field order
// (int, double, QString, double day fraction for times; an invalid QVariant is null).
struct Datapacket
{
    QList<FieldDef> fields;
    QList<QVariantList> rows;
};

// Reads what the legacy engine writes: Windows-1252 or UTF-8 text, single-line or pretty-printed,
// change logs (only the current rows are kept). Raises EngineError naming what is wrong.
Datapacket readDatapacket(const QByteArray& data);

// The engine's own single-line form in UTF-8, merged data, rows in the order given.
QByteArray writeDatapacket(const QList<FieldDef>& fields, const QList<QVariantList>& rows);
inline QByteArray writeDatapacket(const Datapacket& packet)
{
    return writeDatapacket(packet.fields, packet.rows);
}

// The ROW attribute name of a field: blanks and ( ) # * ! $ % ? become '_'.
QString datapacketAttrName(const QString& fieldName);

// A day fraction as whole milliseconds since midnight: |frac(t)| rounded, midnight for a full day.
qint64 dayFractionToMs(double dayFraction);
