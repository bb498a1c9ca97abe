#pragma once

#include "tables/table.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// The content of an XML datapacket file: the layout, the current rows and the PARAMS kept across a save. Values are
// in field order (int, double, QString, double day fraction for times, the file's text for columns of other types;
// an invalid QVariant is null).
struct Datapacket
{
    QList<FieldDef> fields;
    QList<QVariantList> rows;
    DatapacketParams params = {};
};

// Reads what the legacy engine writes: Windows-1252 or UTF-8 text, single-line or pretty-printed,
// change logs (only the current rows are kept). Raises EngineError naming what is wrong.
Datapacket readDatapacket(const QByteArray& data);

// The same through QXmlStreamReader alone, which readDatapacket() leaves every file out of the ordinary to;
// for tests that compare the two.
Datapacket readDatapacketFully(const QByteArray& data);

// The engine's own single-line form in UTF-8, merged data, rows in the order given. Each field is written with
// its kept type and attributes (FieldDef::storage) when they agree with its type.
QByteArray writeDatapacket(const QList<FieldDef>& fields, const QList<QVariantList>& rows,
                           const DatapacketParams& params = {});
inline QByteArray writeDatapacket(const Datapacket& packet)
{
    return writeDatapacket(packet.fields, packet.rows, packet.params);
}

// A value for a field that keeps its file text (FieldDef::keepsFileText()), as the file would hold it: text is
// checked against the file type (blanks trimmed, empty is null, except for memos and blobs); a bool, QDate,
// QDateTime, integer or QByteArray (blob) is written in the file's form. Raises EngineError otherwise,
// e.g. "'20240230' is not a valid date value".
QVariant fileTextValue(const FieldDef& field, const QVariant& value);

// The ROW attribute name of a field: blanks and ( ) # * ! $ % ? become '_'.
QString datapacketAttrName(const QString& fieldName);

// A day fraction as whole milliseconds since midnight: |frac(t)| rounded, midnight for a full day.
qint64 dayFractionToMs(double dayFraction);
