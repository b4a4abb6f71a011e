#pragma once
// What the charts share: value ticks at round numbers, time labels that
// never repeat, the items' colours and pens.

#include <QColor>
#include <QDateTime>
#include <QPen>
#include <QString>

#include <cstddef>

// A round step for about `ticks` steps from 0 to top: 1, 2 or 5 times a
// power of ten.
double RoundStep(double top, int ticks);
// As many decimals as the step has, so that no two labels read alike.
QString StepLabelFormat(double step);

// Labels fine enough for the time between two ticks, so that no two are
// alike, and the date only where the axis spans more than one day.
struct TTimeLabels {
    QString Format;
    int TickCount;
};
TTimeLabels TimeLabels(const QDateTime& from, const QDateTime& to);

// An item's colour by its place in the plan, so that it keeps it whatever
// is drawn with it.
QColor ItemColour(size_t place);
QPen LinePen(const QColor& colour, qreal width);
