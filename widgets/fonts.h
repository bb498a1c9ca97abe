#pragma once

#include <QFont>

// The program's typefaces, each with look-alikes for systems that lack it.
namespace fonts {

QFont windowFont(); // "MS Sans Serif", 8 point
QFont sansPixels(int pixels, bool bold = false);
QFont bookAntiqua(int pixels, bool bold = false, bool italic = false);
QFont verdana(int points, bool bold = false, bool italic = false);

} // namespace fonts
