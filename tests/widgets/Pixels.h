#pragma once
// Pixel helpers for tests that look at what a widget drew.

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>

// The smallest rectangle holding every pixel in which the two images differ.
inline QRect Differences(const QImage& a, const QImage& b)
{
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Every offset at which all drawn pixels of the arrow appear in the grab;
// the arrow's pure red pixels are not drawn.
inline QList<QPoint> FindArrow(const QImage& grab, const QImage& arrow)
{
    const QColor red(255, 0, 0);
    QList<QPoint> found;
    for (int oy = -arrow.height(); oy < grab.height(); ++oy) {
        for (int ox = -arrow.width(); ox < grab.width(); ++ox) {
            bool match = true;
            for (int y = 0; y < arrow.height() && match; ++y) {
                for (int x = 0; x < arrow.width() && match; ++x) {
                    const QColor c = arrow.pixelColor(x, y);
                    if (c == red)
                        continue;
                    const QPoint p(ox + x, oy + y);
                    match = grab.rect().contains(p) && grab.pixelColor(p) == c;
                }
            }
            if (match)
                found << QPoint(ox, oy);
        }
    }
    return found;
}
