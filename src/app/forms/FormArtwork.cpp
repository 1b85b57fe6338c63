#include "forms/FormArtwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qv::app {

namespace {

// Drawn on a 64-unit grid and scaled, so every size comes from one outline.
void DrawProgram(QPainter& p)
{
    // The package.
    QPainterPath box;
    box.addRoundedRect(QRectF(6, 30, 52, 28), 4, 4);
    QLinearGradient boxFill(0, 30, 0, 58);
    boxFill.setColorAt(0, QColor(0x3d, 0x8f, 0xe0));
    boxFill.setColorAt(1, QColor(0x1f, 0x5f, 0xa8));
    p.setPen(QPen(QColor(0x18, 0x4a, 0x82), 1.5));
    p.setBrush(boxFill);
    p.drawPath(box);
    // The page dropping into it.
    QPainterPath page;
    page.moveTo(18, 4);
    page.lineTo(38, 4);
    page.lineTo(46, 12);
    page.lineTo(46, 40);
    page.lineTo(18, 40);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x34, 0x49, 0x5e), 1.5));
    p.setBrush(QColor(0xfd, 0xfd, 0xfd));
    p.drawPath(page);
    p.setBrush(QColor(0xdd, 0xe4, 0xec));
    QPainterPath fold;
    fold.moveTo(38, 4);
    fold.lineTo(38, 12);
    fold.lineTo(46, 12);
    fold.closeSubpath();
    p.drawPath(fold);
    // "< >" on the page: it is a web page.
    p.setPen(QPen(QColor(0x2e, 0xa0, 0x4f), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(28, 16), QPointF(23, 21), QPointF(28, 26)}));
    p.drawPolyline(QPolygonF({QPointF(36, 16), QPointF(41, 21), QPointF(36, 26)}));
    // The package's front over the page's foot.
    QPainterPath front;
    front.addRoundedRect(QRectF(6, 38, 52, 20), 4, 4);
    p.setPen(QPen(QColor(0x18, 0x4a, 0x82), 1.5));
    p.setBrush(boxFill);
    p.drawPath(front);
    p.setPen(QPen(QColor(0xf0, 0xb4, 0x3c), 3));
    p.drawLine(QPointF(24, 48), QPointF(40, 48));
}

} // namespace

QPixmap ProgramPicture(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    DrawProgram(p);
    return pixmap;
}

QPixmap WizardSidePicture()
{
    QPixmap pixmap(164, 316);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 316);
    sky.setColorAt(0, QColor(0x1f, 0x5f, 0xa8));
    sky.setColorAt(1, QColor(0x0e, 0x2f, 0x5a));
    p.fillRect(pixmap.rect(), sky);
    // Pages of a site fanning out above the package.
    for (int i = 0; i < 5; ++i) {
        p.save();
        p.translate(82, 150);
        p.rotate(-28 + i * 14);
        p.setPen(QPen(QColor(255, 255, 255, 150), 1));
        p.setBrush(QColor(255, 255, 255, 40 + i * 12));
        p.drawRoundedRect(QRectF(-22, -118, 44, 58), 3, 3);
        p.setPen(QPen(QColor(255, 255, 255, 110), 2));
        for (int line = 0; line < 4; ++line)
            p.drawLine(QPointF(-14, -106 + line * 10), QPointF(line == 3 ? 2 : 14, -106 + line * 10));
        p.restore();
    }
    p.save();
    p.translate(34, 150);
    p.scale(1.5, 1.5);
    DrawProgram(p);
    p.restore();
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(19);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 256, 164, 24), Qt::AlignCenter, QStringLiteral("Quorvane"));
    font.setPixelSize(12);
    font.setBold(false);
    p.setFont(font);
    p.setPen(QColor(0xc8, 0xdc, 0xf0));
    p.drawText(QRect(0, 280, 164, 18), Qt::AlignCenter, QStringLiteral("Compiler"));
    return pixmap;
}

} // namespace qv::app
