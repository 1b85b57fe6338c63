#include "ToolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qv::view {
namespace {

const QColor kLine(0x2b, 0x3a, 0x4a);
const QColor kFill(0x3d, 0x7e, 0xc4);
const QColor kSheet(0xfb, 0xfb, 0xfb);

// A thick arrow pointing left on a 24-unit grid; mirrored for Forward.
void Arrow(QPainter& p)
{
    QPainterPath a;
    a.moveTo(3, 12);
    a.lineTo(11, 4);
    a.lineTo(11, 8.5);
    a.lineTo(21, 8.5);
    a.lineTo(21, 15.5);
    a.lineTo(11, 15.5);
    a.lineTo(11, 20);
    a.closeSubpath();
    p.setPen(QPen(kLine, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kFill);
    p.drawPath(a);
}

void House(QPainter& p)
{
    p.setPen(QPen(kLine, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kSheet);
    p.drawRect(QRectF(6, 11, 12, 9.5));
    QPainterPath roof;
    roof.moveTo(3, 12.5);
    roof.lineTo(12, 4);
    roof.lineTo(21, 12.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xb8, 0x45, 0x30), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(roof);
    p.setPen(QPen(kLine, 1.0));
    p.setBrush(kFill);
    p.drawRect(QRectF(10.5, 14.5, 3.5, 6));
}

void Circle(QPainter& p)
{
    p.setPen(QPen(kFill, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4.5, 4.5, 15, 15), 100 * 16, 290 * 16);
    QPainterPath head;
    head.moveTo(12, 1.5);
    head.lineTo(17, 5);
    head.lineTo(11.5, 8.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kFill);
    p.drawPath(head);
}

void Printer(QPainter& p)
{
    p.setPen(QPen(kLine, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kSheet);
    p.drawRect(QRectF(7, 3, 10, 7));
    p.setBrush(QColor(0x8a, 0x99, 0xa8));
    p.drawRoundedRect(QRectF(3, 9, 18, 8), 1.5, 1.5);
    p.setBrush(kSheet);
    p.drawRect(QRectF(7, 14, 10, 7));
    p.drawLine(QPointF(9, 17), QPointF(15, 17));
    p.drawLine(QPointF(9, 19), QPointF(13, 19));
}

void Lens(QPainter& p)
{
    p.setPen(QPen(kLine, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14.5, 14.5), QPointF(20.5, 20.5));
    p.setPen(QPen(kLine, 1.6));
    p.setBrush(QColor(0xd6, 0xe8, 0xf8));
    p.drawEllipse(QRectF(3.5, 3.5, 12, 12));
}

void Letters(QPainter& p)
{
    p.setPen(QPen(kLine, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    // A large "A" and a small one.
    QPainterPath big;
    big.moveTo(2.5, 20);
    big.lineTo(8, 4);
    big.lineTo(13.5, 20);
    big.moveTo(4.5, 14.5);
    big.lineTo(11.5, 14.5);
    p.drawPath(big);
    p.setPen(QPen(kFill, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath small;
    small.moveTo(14, 20);
    small.lineTo(17.5, 10);
    small.lineTo(21, 20);
    small.moveTo(15.3, 16.5);
    small.lineTo(19.7, 16.5);
    p.drawPath(small);
}

void Sheets(QPainter& p)
{
    p.setPen(QPen(kLine, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xe4, 0xea, 0xf0));
    p.drawRect(QRectF(4, 3, 11, 14));
    p.setBrush(kSheet);
    p.drawRect(QRectF(9, 7, 11, 14));
    p.setPen(QPen(kFill, 1.2));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(11.5, 11 + 3 * i), QPointF(17.5, 11 + 3 * i));
}

QPixmap Draw(Tool tool, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    switch (tool) {
    case Tool::Back: Arrow(p); break;
    case Tool::Forward:
        p.translate(24, 0);
        p.scale(-1, 1);
        Arrow(p);
        break;
    case Tool::Home: House(p); break;
    case Tool::Reload: Circle(p); break;
    case Tool::Print: Printer(p); break;
    case Tool::Find: Lens(p); break;
    case Tool::TextSize: Letters(p); break;
    case Tool::Copy: Sheets(p); break;
    }
    return pixmap;
}

} // namespace

QIcon ToolIcon(Tool tool)
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48})
        icon.addPixmap(Draw(tool, size));
    return icon;
}

} // namespace qv::view
