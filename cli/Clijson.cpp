#include "cli/Clijson.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

// A fixed number travels in the value as binary data of this subtype, the one
// kind of value no text can turn into, and is written as its digits.
constexpr std::uint8_t kFixedNumberSubtype = 0x46;

struct TSeparators {
    const char* Comma;
    const char* Colon;
};
constexpr TSeparators kTight{",", ":"};
constexpr TSeparators kSpaced{", ", ": "};

std::string ScalarText(const TJson& value)
{
    if (value.is_binary()) {
        const TJson::binary_t& bytes = value.get_binary();
        if (!bytes.has_subtype() || bytes.subtype() != kFixedNumberSubtype)
            throw std::logic_error("binary data has no JSON text");
        return std::string(bytes.begin(), bytes.end());
    }
    return value.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

std::string KeyText(const std::string& key) { return ScalarText(TJson(key)); }

bool IsOpen(const TJson& value) { return value.is_structured() && !value.empty(); }

void WriteInline(const TJson& value, const TSeparators& separators, std::string& out)
{
    if (!IsOpen(value)) {
        out += value.is_structured() ? value.dump() : ScalarText(value);
        return;
    }
    const bool object = value.is_object();
    out += object ? '{' : '[';
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (it != value.begin())
            out += separators.Comma;
        if (object)
            out += KeyText(it.key()) + separators.Colon;
        WriteInline(*it, separators, out);
    }
    out += object ? '}' : ']';
}

// The outer levels of containers broken into lines, the rest inline.
void WriteBroken(const TJson& value, int levels, size_t indent, std::string& out)
{
    if (levels == 0 || !IsOpen(value)) {
        WriteInline(value, kSpaced, out);
        return;
    }
    const bool object = value.is_object();
    const std::string inner(indent + 2, ' ');
    out += object ? "{\n" : "[\n";
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (it != value.begin())
            out += ",\n";
        out += inner;
        if (object)
            out += KeyText(it.key()) + ": ";
        WriteBroken(*it, levels - 1, indent + 2, out);
    }
    out += '\n' + std::string(indent, ' ') + (object ? '}' : ']');
}

}  // namespace

TJson FixedNumber(double value, int decimals)
{
    if (!std::isfinite(value))
        return nullptr;
    char digits[400];  // DBL_MAX has 309 digits before the point
    const int length = std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
    if (length < 0 || static_cast<size_t>(length) >= sizeof digits)
        throw std::invalid_argument("too many decimals for a JSON number");
    return TJson::binary(std::vector<std::uint8_t>(digits, digits + length), kFixedNumberSubtype);
}

std::string JsonIndented(const TJson& value)
{
    std::string out;
    WriteBroken(value, 2, 0, out);
    return out;
}

std::string JsonCompact(const TJson& value)
{
    std::string out;
    WriteInline(value, kTight, out);
    return out;
}
