#include "race/logo.h"

#include "widgets/fonts.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

void drawChequeredFlag(QPainter& p, const QRectF& area, int columns, int rows)
{
    const qreal cw = area.width() / columns;
    const qreal ch = area.height() / rows;
    p.save();
    // A waving flag: each column is shifted on a sine curve.
    for (int c = 0; c < columns; ++c) {
        const qreal wave = std::sin(c * 0.55) * ch * 0.45;
        for (int r = 0; r < rows; ++r) {
            p.setBrush((r + c) % 2 ? QColor(245, 245, 245) : QColor(20, 20, 20));
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(area.left() + c * cw, area.top() + r * ch + wave, cw + 0.5, ch + 0.5));
        }
    }
    p.restore();
}

} // namespace

QPixmap logoPixmap(const QSize& size)
{
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(18, 52, 120));
    sky.setColorAt(1, QColor(60, 120, 200));
    p.setBrush(sky);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size.width(), size.height()), 12, 12);

    // Pole and flag at the left.
    p.setBrush(QColor(190, 190, 190));
    p.drawRect(QRectF(22, 18, 5, size.height() - 30));
    drawChequeredFlag(p, QRectF(27, 20, 78, 52), 6, 4);

    // Track line with a racing stripe.
    p.setBrush(QColor(40, 40, 40));
    p.drawRect(QRectF(0, size.height() - 34, size.width(), 22));
    p.setBrush(QColor(240, 200, 40));
    for (int x = 6; x < size.width(); x += 28)
        p.drawRect(QRectF(x, size.height() - 24, 14, 3));

    QFont title = fonts::bookAntiqua(40, true, true);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 110));
    const QRectF textArea(112, 18, size.width() - 118, 64);
    p.drawText(textArea.translated(2, 2), Qt::AlignCenter, QStringLiteral("Quintara"));
    p.setPen(QColor(255, 214, 40));
    p.drawText(textArea, Qt::AlignCenter, QStringLiteral("Quintara"));

    QFont sub = fonts::bookAntiqua(15, false, true);
    p.setFont(sub);
    p.setPen(Qt::white);
    p.drawText(QRectF(112, 80, size.width() - 118, 24), Qt::AlignCenter, QStringLiteral("cronometraggio gare RC"));
    return pm;
}

QIcon startIcon()
{
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 90, 0), 1));
    p.setBrush(QColor(0, 170, 0));
    QPainterPath arrow;
    arrow.moveTo(6, 3);
    arrow.lineTo(21, 12);
    arrow.lineTo(6, 21);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return QIcon(pm);
}

QPixmap flagPixmap(const QSize& size)
{
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(120, 120, 120));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(4, 2, 4, size.height() - 4));
    drawChequeredFlag(p, QRectF(8, 4, size.width() - 12, (size.height() - 8) * 0.6), 8, 5);
    return pm;
}
