#pragma once

#include <QIcon>
#include <QPixmap>

// The race window's drawn pictures.
QPixmap logoPixmap(const QSize& size);
QIcon startIcon();
// A picture for the one-minute and STOP windows: a chequered flag.
QPixmap flagPixmap(const QSize& size);
