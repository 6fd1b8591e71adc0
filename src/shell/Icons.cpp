#include "shell/Icons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tessaly::Icons {

namespace {

enum class Glyph { Dot, Pause, Arrow, Check, Cross, Dash, Gear };

QPixmap draw(int size, QColor fill, Glyph glyph)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal m = size * 0.06;
    const QRectF r(m, m, size - 2 * m, size - 2 * m);
    p.setPen(QPen(fill.darker(140), size / 16.0));
    p.setBrush(fill);
    p.drawEllipse(r);
    p.setPen(QPen(Qt::white, size / 8.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const qreal c = size / 2.0;
    const qreal u = size / 5.0;
    switch (glyph) {
    case Glyph::Dot:
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(c, c), u * 0.7, u * 0.7);
        break;
    case Glyph::Pause:
        p.drawLine(QPointF(c - u * 0.6, c - u), QPointF(c - u * 0.6, c + u));
        p.drawLine(QPointF(c + u * 0.6, c - u), QPointF(c + u * 0.6, c + u));
        break;
    case Glyph::Arrow: {
        p.drawLine(QPointF(c, c + u * 1.2), QPointF(c, c - u * 1.1));
        QPainterPath head;
        head.moveTo(c - u, c - u * 0.1);
        head.lineTo(c, c - u * 1.1);
        head.lineTo(c + u, c - u * 0.1);
        p.drawPath(head);
        break;
    }
    case Glyph::Check: {
        QPainterPath tick;
        tick.moveTo(c - u * 1.1, c);
        tick.lineTo(c - u * 0.3, c + u * 0.8);
        tick.lineTo(c + u * 1.1, c - u * 0.8);
        p.drawPath(tick);
        break;
    }
    case Glyph::Cross:
        p.drawLine(QPointF(c - u * 0.9, c - u * 0.9), QPointF(c + u * 0.9, c + u * 0.9));
        p.drawLine(QPointF(c - u * 0.9, c + u * 0.9), QPointF(c + u * 0.9, c - u * 0.9));
        break;
    case Glyph::Dash:
        p.drawLine(QPointF(c - u, c), QPointF(c + u, c));
        break;
    case Glyph::Gear:
        p.drawEllipse(QPointF(c, c), u * 0.9, u * 0.9);
        break;
    }
    return pm;
}

QIcon make(QColor fill, Glyph glyph)
{
    QIcon icon;
    for (int s : {16, 20, 24, 32, 48})
        icon.addPixmap(draw(s, fill, glyph));
    return icon;
}

} // namespace

QIcon stateIcon(int code)
{
    static QHash<int, QIcon> cache;
    auto it = cache.constFind(code);
    if (it != cache.constEnd())
        return *it;
    QIcon icon;
    switch (code) {
    case 1: icon = make(QColor(0x3b, 0x82, 0xf6), Glyph::Dot); break;    // Queued
    case 2: icon = make(QColor(0xf5, 0x9e, 0x0b), Glyph::Pause); break;  // Paused
    case 3: icon = make(QColor(0x8b, 0x5c, 0xf6), Glyph::Arrow); break;  // Posting
    case 4: icon = make(QColor(0x16, 0xa3, 0x4a), Glyph::Check); break;  // Posted OK
    case 5: icon = make(QColor(0xdc, 0x26, 0x26), Glyph::Cross); break;  // Error
    case 6: icon = make(QColor(0x9c, 0xa3, 0xaf), Glyph::Dash); break;   // No Upload / offline
    case 7: icon = make(QColor(0x8b, 0x5c, 0xf6), Glyph::Arrow); break;  // connection busy
    case 8: icon = make(QColor(0x16, 0xa3, 0x4a), Glyph::Check); break;
    case 9: icon = make(QColor(0xdc, 0x26, 0x26), Glyph::Cross); break;
    case 10: icon = make(QColor(0x64, 0x74, 0x8b), Glyph::Gear); break;  // job runner idle
    case 11: icon = make(QColor(0x0e, 0xa5, 0xe9), Glyph::Gear); break;  // job runner busy
    default: break;
    }
    cache.insert(code, icon);
    return icon;
}

QIcon appIcon()
{
    return make(QColor(0x0f, 0x76, 0x6e), Glyph::Arrow);
}

} // namespace tessaly::Icons
