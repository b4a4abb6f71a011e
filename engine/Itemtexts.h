#pragma once
// What the list shows for an item, as UTF-8 display texts, so that the window
// and the terminal runner show the same words.

#include "engine/Dnsdispinfo.h"

#include <optional>
#include <string>
#include <vector>

std::string MethodText(int8_t doType);                              // "取首页内容", "DNS查询" or "Ping"
std::string TimeText(const TDNSDispInfo& item);                     // "%7.2f", "待测速", ...
std::string NoteText(const TDNSDispInfo& item, int32_t testTimes);  // Note + "失败率%d/%d "
// The run's verdict (MeanOfAverages) over the averages of the items in state 0;
// none when no item is.
std::optional<double> OverallAverage(const std::vector<TDNSDispInfo>& items);
std::string AverageText(double average);                            // "%0.2f"
