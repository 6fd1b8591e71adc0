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

QIcon stateIcon(StatusIcon which)
{
    const int code = int(which);
    static QHash<int, QIcon> cache;
    auto it = cache.constFind(code);
    if (it != cache.constEnd())
        return *it;
    QIcon icon;
    switch (which) {
    case StatusIcon::Queued: icon = make(QColor(0x3b, 0x82, 0xf6), Glyph::Dot); break;
    case StatusIcon::Paused: icon = make(QColor(0xf5, 0x9e, 0x0b), Glyph::Pause); break;
    case StatusIcon::Posting:
    case StatusIcon::Connected: icon = make(QColor(0x8b, 0x5c, 0xf6), Glyph::Arrow); break;
    case StatusIcon::PostedOK:
    case StatusIcon::Tunnel: icon = make(QColor(0x16, 0xa3, 0x4a), Glyph::Check); break;
    case StatusIcon::FileError:
    case StatusIcon::ConnectionError: icon = make(QColor(0xdc, 0x26, 0x26), Glyph::Cross); break;
    case StatusIcon::Offline: icon = make(QColor(0x9c, 0xa3, 0xaf), Glyph::Dash); break;
    case StatusIcon::RarParIdle: icon = make(QColor(0x64, 0x74, 0x8b), Glyph::Gear); break;
    case StatusIcon::RarParBusy: icon = make(QColor(0x0e, 0xa5, 0xe9), Glyph::Gear); break;
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

namespace tessaly::Icons {

namespace {

QPixmap drawTool(int size, Tool tool)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    const QColor ink(0x33, 0x41, 0x55);
    QPen pen(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    auto arrow = [&](qreal y0, qreal y1, bool bar) {
        p.drawLine(QPointF(12, y0), QPointF(12, y1));
        const qreal dir = y1 < y0 ? 1 : -1;
        p.drawLine(QPointF(12, y1), QPointF(7, y1 + 5 * dir));
        p.drawLine(QPointF(12, y1), QPointF(17, y1 + 5 * dir));
        if (bar)
            p.drawLine(QPointF(5, y1 - 2 * dir), QPointF(19, y1 - 2 * dir));
    };
    switch (tool) {
    case Tool::Start: {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x16, 0xa3, 0x4a));
        QPolygonF tri{QPointF(7, 4), QPointF(20, 12), QPointF(7, 20)};
        p.drawPolygon(tri);
        break;
    }
    case Tool::Stop:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xdc, 0x26, 0x26));
        p.drawRoundedRect(QRectF(5, 5, 14, 14), 2, 2);
        break;
    case Tool::AddFiles:
        p.drawRoundedRect(QRectF(4, 3, 13, 17), 2, 2);
        p.setPen(QPen(QColor(0x16, 0xa3, 0x4a), 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17, 13), QPointF(17, 22));
        p.drawLine(QPointF(12.5, 17.5), QPointF(21.5, 17.5));
        break;
    case Tool::Settings:
        p.drawEllipse(QPointF(12, 12), 3, 3);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(12, 12);
            p.rotate(i * 45);
            p.drawLine(QPointF(0, 6), QPointF(0, 9));
            p.restore();
        }
        p.drawEllipse(QPointF(12, 12), 6, 6);
        break;
    case Tool::Log:
        p.drawRoundedRect(QRectF(4, 3, 16, 18), 2, 2);
        for (int y : {8, 12, 16})
            p.drawLine(QPointF(8, y), QPointF(16, y));
        break;
    case Tool::Scheduler:
        p.drawEllipse(QPointF(12, 12), 8.5, 8.5);
        p.drawLine(QPointF(12, 12), QPointF(12, 7));
        p.drawLine(QPointF(12, 12), QPointF(16, 14));
        break;
    case Tool::RarPar:
        p.drawRect(QRectF(4, 8, 16, 12));
        p.drawLine(QPointF(4, 8), QPointF(8, 4));
        p.drawLine(QPointF(20, 8), QPointF(16, 4));
        p.drawLine(QPointF(8, 4), QPointF(16, 4));
        p.drawLine(QPointF(10, 12), QPointF(14, 12));
        break;
    case Tool::About:
        p.drawEllipse(QPointF(12, 12), 8.5, 8.5);
        p.drawLine(QPointF(12, 11), QPointF(12, 16.5));
        p.drawPoint(QPointF(12, 7.5));
        break;
    case Tool::Tray:
        p.drawRoundedRect(QRectF(3, 15, 18, 6), 1.5, 1.5);
        arrow(3, 12, false);
        break;
    case Tool::Up:
        arrow(19, 6, false);
        break;
    case Tool::Down:
        arrow(5, 18, false);
        break;
    case Tool::Top:
        arrow(20, 8, true);
        break;
    case Tool::Bottom:
        arrow(4, 16, true);
        break;
    case Tool::Clear:
        p.drawLine(QPointF(5, 7), QPointF(19, 7));
        p.drawRoundedRect(QRectF(7, 7, 10, 13), 1.5, 1.5);
        p.drawLine(QPointF(10, 4), QPointF(14, 4));
        break;
    case Tool::TogglePane:
        p.drawRoundedRect(QRectF(3, 4, 18, 16), 2, 2);
        p.drawLine(QPointF(9, 4), QPointF(9, 20));
        break;
    }
    return pm;
}

} // namespace

QIcon toolIcon(Tool tool)
{
    QIcon icon;
    for (int s : {16, 20, 24, 32})
        icon.addPixmap(drawTool(s, tool));
    return icon;
}

} // namespace tessaly::Icons
