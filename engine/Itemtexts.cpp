#include "engine/Itemtexts.h"

#include "engine/Trytimes.h"
#include "vqlib/Gbk.h"

#include <cstdio>

namespace {

std::string Format(const char* format, auto... args)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

}  // namespace

std::string MethodText(int8_t doType)
{
    switch (doType) {
    case dtHomePage: return "取首页内容";
    case dtDNSQuery: return "DNS查询";
    case dtTCPConnect: return "TCP连接";
    default: return "Ping";
    }
}

std::string TimeText(const TDNSDispInfo& item)
{
    switch (item.State) {
    case tsDone: return Format("%7.2f", item.AvgTime);
    case tsNoResponse: return "没响应";
    case tsTesting: return "测速中...";
    default: return "待测速";
    }
}

std::string NoteText(const TDNSDispInfo& item, int32_t testTimes)
{
    std::string text = GbkToUtf8(item.Note);
    if ((item.State == tsDone || item.State == tsNoResponse) && item.FailCount > 0)
        text += Format("失败率%d/%d ", item.FailCount, testTimes);
    return text;
}

std::optional<double> OverallAverage(const std::vector<TDNSDispInfo>& items)
{
    std::vector<std::optional<double>> averages;
    averages.reserve(items.size());
    for (const TDNSDispInfo& item : items)
        averages.push_back(item.State == tsDone ? std::optional<double>(item.AvgTime) : std::nullopt);
    return MeanOfAverages(averages);
}

std::string AverageText(double average)
{
    return Format("%0.2f", average);
}
