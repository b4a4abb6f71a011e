#pragma once
// A path's hops as the rows of a table, the same in the window and in the
// terminal: the columns of a path report, times in milliseconds to the
// microsecond, "???" for a hop that did not answer, and a hop's further
// addresses on lines of their own under it.

#include "engine/Pathtrace.h"

#include <functional>
#include <string>
#include <vector>

using TPathRow = std::vector<std::string>;

// What to show for an address: its text, or its name.
using TAddressShown = std::function<std::string(const sockaddr_storage& address)>;

// 跳数, 地址, 丢包率(%), 已发送, 最近(毫秒), 平均(毫秒), 最快(毫秒), 最慢(毫秒), 标准差(毫秒).
const TPathRow& PathTableHeader();
// A row per hop, and one with only the address for each further address.
// shown: AddressText when empty.
std::vector<TPathRow> PathTableRows(const TPathReport& report, const TAddressShown& shown = {});

// Milliseconds to the microsecond ("0.051").
std::string PathMilliseconds(double microseconds);

// What a report says of the trace as a whole, for a status line:
// 正在跟踪 (第 N/M 轮)..., 已到达目标, 目标没有响应, 已停止, or why it could not.
std::string PathStateText(const TPathReport& report, int rounds);
