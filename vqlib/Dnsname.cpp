#include "vqlib/Dnsname.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr size_t kMostNameBytes = 253;
constexpr size_t kMostLabelBytes = 63;

bool IsLabelByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

bool IsDnsName(std::string_view name)
{
    if (name.empty() || name.size() > kMostNameBytes)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t dot = std::min(name.find('.', start), name.size());
        const std::string_view label = name.substr(start, dot - start);
        if (label.empty() || label.size() > kMostLabelBytes || !std::all_of(label.begin(), label.end(), IsLabelByte))
            return false;
        if (dot == name.size())
            return true;
        start = dot + 1;
    }
}
