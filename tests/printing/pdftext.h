#pragma once

#include <QList>
#include <QStringList>

// The text of a PDF file as pdftotext lays it out: one list of lines per page, each line with its
// runs of blanks folded to one, empty lines dropped.
namespace pdftext {

bool available();
QList<QStringList> pages(const QString& pdf);
QStringList lines(const QString& pdf);

// Whether `expected` appears in `lines` in this order (other lines may come between); otherwise
// `why` names the first line not found.
bool inOrder(const QStringList& lines, const QStringList& expected, QString* why);

} // namespace pdftext
