#include "dialogs/Chartaxes.h"

#include <algorithm>
#include <cmath>
#include <iterator>

// A round step for about `ticks` steps from 0 to top: 1, 2 or 5 times a
// power of ten.
double RoundStep(double top, int ticks)
{
    const double raw = top / ticks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double multiple : {1.0, 2.0, 5.0})
        if (multiple * magnitude >= raw * (1 - 1e-9))
            return multiple * magnitude;
    return 10 * magnitude;
}

// As many decimals as the step has, so that no two labels read alike.
QString StepLabelFormat(double step)
{
    const int decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    return QStringLiteral("%.%1f").arg(decimals);
}

// Labels fine enough for the time between two ticks, so that no two are
// alike, and the date only where the axis spans more than one day.
TTimeLabels TimeLabels(const QDateTime& from, const QDateTime& to)
{
    constexpr int kTicks = 6;
    constexpr qint64 kMinute = 60, kHour = 60 * kMinute, kDay = 24 * kHour;
    const qint64 span = std::max<qint64>(from.secsTo(to), 1);
    const qint64 between = span / (kTicks - 1);
    const bool oneDay = from.date() == to.date();
    // An hour more than a day: a day that a clock change makes longer
    // must not show its date twice.
    if (between >= kDay + kHour)
        return {QStringLiteral("yyyy-MM-dd"), kTicks};
    if (between >= kMinute)
        return {oneDay ? QStringLiteral("HH:mm") : QStringLiteral("MM-dd HH:mm"), kTicks};
    // Under a minute between ticks: seconds, and no more ticks than seconds.
    return {oneDay ? QStringLiteral("HH:mm:ss") : QStringLiteral("MM-dd HH:mm:ss"),
            int(std::clamp<qint64>(span + 1, 2, kTicks))};
}

QColor ItemColour(size_t place)
{
    static const QColor colours[] = {{32, 159, 223}, {246, 166, 37}, {153, 202, 83}, {191, 89, 62},
                                     {109, 95, 213}, {0, 150, 136},  {233, 30, 99},  {121, 85, 72},
                                     {96, 125, 139}, {205, 220, 57}};
    return colours[place % std::size(colours)];
}

QPen LinePen(const QColor& colour, qreal width)
{
    QPen pen(colour);
    pen.setWidthF(width);
    return pen;
}
