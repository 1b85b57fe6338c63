#include "forms/Artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace qv::app {
namespace {

const QColor kInk(0x34, 0x49, 0x5e);
const QColor kPaper(0xfd, 0xfd, 0xfd);
const QColor kBlue(0x2f, 0x80, 0xd1);
const QColor kGreen(0x2e, 0xa0, 0x4f);
const QColor kAmber(0xf0, 0xb4, 0x3c);

void DrawPage(QPainter& p)
{
    QPainterPath page;
    page.moveTo(5, 2.5);
    page.lineTo(14.5, 2.5);
    page.lineTo(19.5, 7.5);
    page.lineTo(19.5, 21.5);
    page.lineTo(5, 21.5);
    page.closeSubpath();
    p.setBrush(kPaper);
    p.setPen(QPen(kInk, 1.2));
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(14.5, 2.5);
    fold.lineTo(14.5, 7.5);
    fold.lineTo(19.5, 7.5);
    p.setBrush(QColor(0xdd, 0xe4, 0xec));
    p.drawPath(fold);
}

void DrawNew(QPainter& p)
{
    DrawPage(p);
    // A spark in the corner says "new".
    QPainterPath star;
    const QPointF c(17, 17);
    for (int i = 0; i < 10; ++i) {
        const double r = (i % 2) ? 2.0 : 5.0;
        const double a = M_PI / 5 * i - M_PI / 2;
        const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        i ? star.lineTo(pt) : star.moveTo(pt);
    }
    star.closeSubpath();
    p.setBrush(kAmber);
    p.setPen(QPen(QColor(0xb0, 0x7a, 0x10), 0.8));
    p.drawPath(star);
}

void DrawOpen(QPainter& p)
{
    p.setPen(QPen(QColor(0x9a, 0x6b, 0x12), 1.2));
    p.setBrush(QColor(0xe8, 0xb8, 0x4a));
    QPainterPath back;
    back.moveTo(2.5, 5.5);
    back.lineTo(9, 5.5);
    back.lineTo(11, 7.5);
    back.lineTo(19.5, 7.5);
    back.lineTo(19.5, 19.5);
    back.lineTo(2.5, 19.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(0xf6, 0xd0, 0x6c));
    QPainterPath front;
    front.moveTo(5.5, 10.5);
    front.lineTo(22, 10.5);
    front.lineTo(19.5, 19.5);
    front.lineTo(2.5, 19.5);
    front.closeSubpath();
    p.drawPath(front);
}

void DrawSave(QPainter& p)
{
    p.setPen(QPen(QColor(0x1d, 0x4f, 0x86), 1.2));
    p.setBrush(kBlue);
    QPainterPath body;
    body.moveTo(3.5, 3.5);
    body.lineTo(17.5, 3.5);
    body.lineTo(20.5, 6.5);
    body.lineTo(20.5, 20.5);
    body.lineTo(3.5, 20.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(kPaper);
    p.drawRect(QRectF(7, 3.5, 9, 6));
    p.setBrush(QColor(0xe6, 0xee, 0xf6));
    p.drawRect(QRectF(6.5, 13, 11, 7.5));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRect(QRectF(12.5, 4.5, 2, 4));
}

void DrawOptions(QPainter& p)
{
    // Three sliders.
    for (int i = 0; i < 3; ++i) {
        const double y = 6 + i * 6;
        const double knob = (i == 1) ? 15 : (i == 0 ? 8 : 11);
        p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3, y), QPointF(21, y));
        p.setPen(QPen(kInk, 1.0));
        p.setBrush(i == 1 ? kAmber : kBlue);
        p.drawEllipse(QPointF(knob, y), 2.6, 2.6);
    }
}

void DrawBuild(QPainter& p)
{
    // A parcel with an arrow going into it.
    p.setPen(QPen(QColor(0x8a, 0x5a, 0x1e), 1.2));
    p.setBrush(QColor(0xd9, 0xa5, 0x62));
    p.drawRect(QRectF(3.5, 11.5, 17, 9));
    p.setBrush(QColor(0xe8, 0xc0, 0x86));
    QPainterPath lid;
    lid.moveTo(3.5, 11.5);
    lid.lineTo(6, 8.5);
    lid.lineTo(18, 8.5);
    lid.lineTo(20.5, 11.5);
    lid.closeSubpath();
    p.drawPath(lid);
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    QPainterPath arrow;
    arrow.moveTo(10.5, 1.5);
    arrow.lineTo(13.5, 1.5);
    arrow.lineTo(13.5, 7);
    arrow.lineTo(16.5, 7);
    arrow.lineTo(12, 12);
    arrow.lineTo(7.5, 7);
    arrow.lineTo(10.5, 7);
    arrow.closeSubpath();
    p.drawPath(arrow);
}

void DrawCheck(QPainter& p)
{
    // A page under a magnifying glass.
    DrawPage(p);
    p.setPen(QPen(kInk, 1.0, Qt::SolidLine, Qt::RoundCap));
    for (double y : {10.5, 13.5, 16.5})
        p.drawLine(QPointF(7.5, y), QPointF(16.5, y));
    p.setPen(QPen(kInk, 3.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15.5, 15.5), QPointF(21.5, 21.5));
    p.setPen(QPen(kInk, 1.6));
    p.setBrush(QColor(0xcf, 0xe6, 0xfa, 0xd0));
    p.drawEllipse(QPointF(11.5, 11.5), 5.5, 5.5);
}

void DrawRun(QPainter& p)
{
    p.setPen(QPen(QColor(0x1e, 0x70, 0x36), 1.2));
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    QPainterPath play;
    play.moveTo(9.5, 7);
    play.lineTo(17, 12);
    play.lineTo(9.5, 17);
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawPath(play);
}

void DrawHelp(QPainter& p)
{
    p.setPen(QPen(QColor(0x1d, 0x4f, 0x86), 1.2));
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    QPainterPath mark;
    mark.moveTo(9, 9.5);
    mark.cubicTo(9, 5.5, 15, 5.5, 15, 9.5);
    mark.cubicTo(15, 12, 12, 12, 12, 14.5);
    p.setPen(QPen(kPaper, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(12, 18), 1.4, 1.4);
}

void DrawHome(QPainter& p)
{
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    QPainterPath house;
    house.moveTo(5.5, 11);
    house.lineTo(5.5, 20.5);
    house.lineTo(18.5, 20.5);
    house.lineTo(18.5, 11);
    p.drawPath(house);
    p.setBrush(QColor(0xc8, 0x4b, 0x3c));
    QPainterPath roof;
    roof.moveTo(2, 12.5);
    roof.lineTo(12, 3);
    roof.lineTo(22, 12.5);
    roof.closeSubpath();
    p.drawPath(roof);
    p.setBrush(kBlue);
    p.drawRect(QRectF(10, 14.5, 4, 6));
}

QPixmap Draw(Picture picture, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    switch (picture) {
    case Picture::New: DrawNew(p); break;
    case Picture::Open: DrawOpen(p); break;
    case Picture::Save: DrawSave(p); break;
    case Picture::Options: DrawOptions(p); break;
    case Picture::Build: DrawBuild(p); break;
    case Picture::Check: DrawCheck(p); break;
    case Picture::Run: DrawRun(p); break;
    case Picture::Help: DrawHelp(p); break;
    case Picture::Home: DrawHome(p); break;
    }
    return pixmap;
}

} // namespace

QIcon CommandPicture(Picture picture)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(Draw(picture, size));
    return icon;
}

} // namespace qv::app
