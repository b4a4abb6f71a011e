#include "app/Images.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace {

constexpr int kSize = 16;

QImage BlankImage()
{
    QImage image(kSize, kSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

void DrawNew(QPainter& p)
{
    // A sheet with its top right corner folded.
    const QPolygon sheet({{3, 1}, {10, 1}, {13, 4}, {13, 14}, {3, 14}});
    p.setPen(QColor(64, 64, 64));
    p.setBrush(Qt::white);
    p.drawPolygon(sheet);
    p.setBrush(QColor(200, 200, 200));
    p.drawPolygon(QPolygon({{10, 1}, {10, 4}, {13, 4}}));
}

void DrawOpen(QPainter& p)
{
    // An open folder.
    p.setPen(QColor(128, 96, 0));
    p.setBrush(QColor(230, 190, 60));
    p.drawPolygon(QPolygon({{1, 3}, {5, 3}, {6, 4}, {12, 4}, {12, 13}, {1, 13}}));
    p.setBrush(QColor(255, 222, 110));
    p.drawPolygon(QPolygon({{3, 7}, {15, 7}, {12, 13}, {1, 13}}));
}

void DrawSave(QPainter& p)
{
    // A diskette: body, shutter and label.
    p.setPen(QColor(20, 40, 100));
    p.setBrush(QColor(50, 90, 180));
    p.drawPolygon(QPolygon({{1, 1}, {13, 1}, {14, 2}, {14, 14}, {1, 14}}));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(4, 2, 7, 5);
    p.setBrush(QColor(190, 190, 190));
    p.drawRect(4, 10, 7, 4);
    p.setBrush(QColor(50, 90, 180));
    p.drawRect(8, 11, 2, 2);
}

void DrawPlus(QPainter& p)
{
    p.setPen(QColor(0, 100, 0));
    p.setBrush(QColor(40, 170, 40));
    p.drawPolygon(QPolygon({{6, 2}, {9, 2}, {9, 6}, {13, 6}, {13, 9}, {9, 9}, {9, 13},
                            {6, 13}, {6, 9}, {2, 9}, {2, 6}, {6, 6}}));
}

void DrawCross(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
}

void DrawPencil(QPainter& p)
{
    // A pencil lying from bottom left to top right.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(90, 60, 0));
    p.setBrush(QColor(250, 200, 40));
    p.drawPolygon(QPolygonF({{11.5, 1.5}, {14.5, 4.5}, {5.5, 13.5}, {2.5, 10.5}}));
    p.setBrush(QColor(240, 210, 170));
    p.drawPolygon(QPolygonF({{2.5, 10.5}, {5.5, 13.5}, {1.5, 14.5}}));
    p.setBrush(QColor(220, 110, 110));
    p.drawPolygon(QPolygonF({{11.5, 1.5}, {14.5, 4.5}, {13, 6}, {10, 3}}));
}

void DrawStopwatch(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(6.5, 0.5, 3, 2));
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0, 110, 0), 1.6));
    p.drawEllipse(QRectF(1.8, 3.3, 12.4, 12.4));
    p.setPen(QPen(QColor(200, 30, 30), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 9.5), QPointF(11, 6.5));
    p.setPen(QPen(QColor(30, 30, 30), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 9.5), QPointF(8, 5.5));
}

using TDrawFunction = void (*)(QPainter&);

QImage DrawImage(TDrawFunction draw)
{
    QImage image = BlankImage();
    QPainter painter(&image);
    draw(painter);
    return image;
}

std::vector<QImage> DrawAll()
{
    static constexpr TDrawFunction kDrawers[kCommandImageCount] = {
        DrawNew, DrawOpen, DrawSave, DrawPlus, DrawCross, DrawPencil, DrawStopwatch,
    };
    std::vector<QImage> images;
    for (TDrawFunction draw : kDrawers)
        images.push_back(DrawImage(draw));
    return images;
}

// Light grey of the picture's brightness; fully transparent pixels stay so.
QImage Greyed(QImage image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            const int grey = 128 + qGray(c.rgb()) / 2;
            image.setPixelColor(x, y, QColor(grey, grey, grey, c.alpha()));
        }
    }
    return image;
}

}  // namespace

std::vector<QPixmap> DrawCommandImages()
{
    std::vector<QPixmap> pixmaps;
    for (const QImage& image : DrawAll())
        pixmaps.push_back(QPixmap::fromImage(image));
    return pixmaps;
}

std::vector<QPixmap> DrawDisabledImages()
{
    std::vector<QPixmap> pixmaps;
    for (const QImage& image : DrawAll())
        pixmaps.push_back(QPixmap::fromImage(Greyed(image)));
    return pixmaps;
}
