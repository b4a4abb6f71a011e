#include "engine/Pathtable.h"

#include <cstdio>

const TPathRow& PathTableHeader()
{
    static const TPathRow header{"跳数",         "地址",         "丢包率(%)",    "已发送",      "最近(毫秒)",
                                 "平均(毫秒)",   "最快(毫秒)",   "最慢(毫秒)",   "标准差(毫秒)"};
    return header;
}

std::string PathMilliseconds(double microseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", microseconds / 1000.0);
    return text;
}

namespace {

std::string Percent(double value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

TPathRow HopRow(const TPathHop& hop, const std::string& address)
{
    TPathRow row{std::to_string(hop.Hop), address, Percent(hop.LossPercent()), std::to_string(hop.Sent)};
    if (hop.Received == 0) {
        row.resize(PathTableHeader().size());
        return row;
    }
    for (double value : {static_cast<double>(hop.Last.count()), hop.MeanMicroseconds,
                         static_cast<double>(hop.Best.count()), static_cast<double>(hop.Worst.count()),
                         hop.StdDevMicroseconds})
        row.push_back(PathMilliseconds(value));
    return row;
}

}  // namespace

std::vector<TPathRow> PathTableRows(const TPathReport& report, const TAddressShown& shown)
{
    const TAddressShown show = shown ? shown : TAddressShown(AddressText);
    std::vector<TPathRow> rows;
    for (const TPathHop& hop : report.Hops) {
        rows.push_back(HopRow(hop, hop.Silent() ? "???" : show(hop.Addresses.front())));
        for (size_t i = 1; i < hop.Addresses.size(); ++i) {
            TPathRow more(PathTableHeader().size());
            more[1] = show(hop.Addresses[i]);
            rows.push_back(std::move(more));
        }
    }
    return rows;
}

std::string PathStateText(const TPathReport& report, int rounds)
{
    if (report.Failure == TTryCause::Denied)
        return "无权发送ICMP请求：请以管理员身份为程序设置 cap_net_raw 权能，或允许本用户组使用 ping 套接字"
               "（net.ipv4.ping_group_range）";
    if (report.Failure != TTryCause::None) {
        TTryOutcome failed;
        failed.Cause = report.Failure;
        failed.Shortage = report.SystemError;
        return "无法跟踪：" + CauseText(failed);
    }
    if (!report.Finished)
        return "正在跟踪 (第 " + std::to_string(report.RoundsSent) + "/" + std::to_string(rounds) + " 轮)...";
    if (report.Stopped)
        return "已停止";
    return report.Reached ? "已到达目标" : "目标没有响应";
}
