#include "history/Runrecord.h"

std::optional<double> ItemAverage(const TTryTimes& tries)
{
    if (const std::optional<TTryFigures> figures = TryFigures(tries))
        return figures->Mean;
    return std::nullopt;
}
