#include "app/Sortarrows.h"

#include <array>

namespace {

// The up triangle, rows 5 to 11 and columns 4 to 11 of the picture, drawn as
// an etched shape: left edge in shadow, right edge and base in highlight.
// 'd' dark grey, 'l' light grey, 'w' white, '.' background.
constexpr std::array<const char*, 7> kUpTriangle = {
    "...dl...",
    "...dl...",
    "..dwwl..",
    "..dwwl..",
    ".dwwwwl.",
    ".dwwwwl.",
    "dlllllll",
};
// The same triangle pointing down: top edge and left edge in shadow.
constexpr std::array<const char*, 7> kDownTriangle = {
    "dddddddl",
    ".dwwwwl.",
    ".dwwwwl.",
    "..dwwl..",
    "..dwwl..",
    "...dl...",
    "...dl...",
};
constexpr int kFirstRow = 5;
constexpr int kFirstColumn = 4;

QImage MakeArrowImage(const std::array<const char*, 7>& triangle)
{
    QImage image(16, 16, QImage::Format_RGB888);
    image.fill(kArrowTransparentColor);
    for (int row = 0; row < int(triangle.size()); ++row) {
        for (int column = 0; column < 8; ++column) {
            QColor colour;
            switch (triangle[row][column]) {
            case 'd': colour = QColor(51, 51, 51); break;
            case 'l': colour = QColor(204, 204, 204); break;
            case 'w': colour = QColor(255, 255, 255); break;
            default: continue;
            }
            image.setPixelColor(kFirstColumn + column, kFirstRow + row, colour);
        }
    }
    return image;
}

}  // namespace

QImage MakeUpArrowImage() { return MakeArrowImage(kUpTriangle); }
QImage MakeDownArrowImage() { return MakeArrowImage(kDownTriangle); }
