#pragma once
// The pictures imgUp and imgDown: 16 x 16, 24 bits per pixel, on a pure red
// background that is not drawn (the transparent colour of the sort arrows).

#include <QColor>
#include <QImage>

inline const QColor kArrowTransparentColor(255, 0, 0);

QImage MakeUpArrowImage();
QImage MakeDownArrowImage();
