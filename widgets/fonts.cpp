#include "widgets/fonts.h"

#include <QStringList>

namespace fonts {

namespace {
const QStringList sansFamilies{QStringLiteral("MS Sans Serif"), QStringLiteral("Nimbus Sans"),
                               QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")};
const QStringList bookFamilies{QStringLiteral("Book Antiqua"), QStringLiteral("P052"), QStringLiteral("TeX Gyre Pagella"),
                               QStringLiteral("URW Palladio L"), QStringLiteral("DejaVu Serif")};
const QStringList verdanaFamilies{QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")};

QFont make(const QStringList& families, bool bold, bool italic)
{
    QFont f;
    f.setFamilies(families);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}
} // namespace

QFont windowFont()
{
    QFont f = make(sansFamilies, false, false);
    f.setPointSize(8);
    return f;
}

QFont sansPixels(int pixels, bool bold)
{
    QFont f = make(sansFamilies, bold, false);
    f.setPixelSize(pixels);
    return f;
}

QFont bookAntiqua(int pixels, bool bold, bool italic)
{
    QFont f = make(bookFamilies, bold, italic);
    f.setPixelSize(pixels);
    return f;
}

QFont verdana(int points, bool bold, bool italic)
{
    QFont f = make(verdanaFamilies, bold, italic);
    f.setPointSize(points);
    return f;
}

} // namespace fonts
