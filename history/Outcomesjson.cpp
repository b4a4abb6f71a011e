#include "history/Outcomesjson.h"

#include "engine/Tryoutcome.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <optional>

namespace {

using nlohmann::json;
using std::chrono::microseconds;

// A day: more than any try waits, little enough that sums cannot overflow.
constexpr int64_t kMaxMicros = int64_t{86'400} * 1'000'000;
constexpr size_t kMaxCodeBytes = 64;
constexpr size_t kMaxAddressBytes = 64;  // a numeric IPv6 address with its zone
constexpr int kMaxErrno = 4095;

// The array, its tries and a home page's answer: nothing nests deeper.
constexpr int kDeepestContainer = 2;

void PutIfSet(json& object, const char* key, microseconds value)
{
    if (value.count() != 0)
        object[key] = value.count();
}

void PutIfSet(json& object, const char* key, int64_t value)
{
    if (value != 0)
        object[key] = value;
}

json HttpJson(const THttpTry& http)
{
    json object = json::object();
    PutIfSet(object, "resolve", http.Resolve);
    PutIfSet(object, "connect", http.Connect);
    PutIfSet(object, "tls", http.Tls);
    PutIfSet(object, "processing", http.Processing);
    PutIfSet(object, "transfer", http.Transfer);
    PutIfSet(object, "status", int64_t{http.Status});
    if (!http.Address.empty())
        object["address"] = http.Address;
    PutIfSet(object, "bytes", http.BodyBytes);
    PutIfSet(object, "cert_expiry", http.CertExpiry);
    return object;
}

// A try that succeeded has its time ("us"), one that failed its cause.
json TryJson(const TTryOutcome& outcome)
{
    json object = json::object();
    if (outcome.Ok)
        object["us"] = outcome.Elapsed.count();
    else
        object["cause"] = CauseCode(outcome);
    if (outcome.Denied)
        object["denied"] = true;
    PutIfSet(object, "errno", int64_t{outcome.Shortage});
    if (outcome.Http)
        object["http"] = HttpJson(*outcome.Http);
    return object;
}

// The integer under key when it lies in [low, high].
std::optional<int64_t> IntegerAt(const json& object, const char* key, int64_t low, int64_t high)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer())
        return std::nullopt;
    if (found->is_number_unsigned() && found->get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max()))
        return std::nullopt;
    const int64_t value = found->get<int64_t>();
    return value >= low && value <= high ? std::optional(value) : std::nullopt;
}

int64_t IntegerOr0(const json& object, const char* key, int64_t low, int64_t high)
{
    return IntegerAt(object, key, low, high).value_or(0);
}

microseconds MicrosOr0(const json& object, const char* key)
{
    return microseconds(IntegerOr0(object, key, 0, kMaxMicros));
}

// Only the characters of a numeric address: it is shown and written out.
bool IsAddressText(const std::string& text)
{
    if (text.size() > kMaxAddressBytes)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == ':'
              || c == '%' || c == '_' || c == '-'))
            return false;
    return true;
}

std::string StringAt(const json& object, const char* key, size_t maxBytes)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string())
        return {};
    const auto& text = found->get_ref<const std::string&>();
    return text.size() <= maxBytes ? text : std::string();
}

THttpTry HttpOfJson(const json& object)
{
    THttpTry http;
    http.Resolve = MicrosOr0(object, "resolve");
    http.Connect = MicrosOr0(object, "connect");
    http.Tls = MicrosOr0(object, "tls");
    http.Processing = MicrosOr0(object, "processing");
    http.Transfer = MicrosOr0(object, "transfer");
    http.Status = static_cast<int>(IntegerOr0(object, "status", 0, 999));
    http.Address = StringAt(object, "address", kMaxAddressBytes);
    if (!IsAddressText(http.Address))
        http.Address.clear();
    http.BodyBytes = IntegerOr0(object, "bytes", 0, std::numeric_limits<int64_t>::max());
    http.CertExpiry = IntegerOr0(object, "cert_expiry", 0, std::numeric_limits<int64_t>::max());
    return http;
}

TTryOutcome TryOfJson(const json& object)
{
    TTryOutcome outcome;
    if (const std::optional<int64_t> elapsed = IntegerAt(object, "us", 0, std::numeric_limits<int64_t>::max())) {
        outcome.Ok = true;
        outcome.Elapsed = microseconds(*elapsed);
    } else {
        const std::string code = StringAt(object, "cause", kMaxCodeBytes);
        outcome.Cause = CauseOfCode(code, outcome.DnsRcode);
    }
    const auto denied = object.find("denied");
    outcome.Denied = denied != object.end() && denied->is_boolean() && denied->get<bool>();
    outcome.Shortage = static_cast<int>(IntegerOr0(object, "errno", 0, kMaxErrno));
    const auto http = object.find("http");
    if (http != object.end() && http->is_object())
        outcome.Http = HttpOfJson(*http);
    return outcome;
}

// Containers nested deeper than ours are dropped as they are read, so that
// what is kept stays shallow whatever the text.
json ParseShallow(std::string_view text)
{
    const json::parser_callback_t shallow = [](int depth, json::parse_event_t event, json&) {
        const bool opens = event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        return !opens || depth <= kDeepestContainer;
    };
    return json::parse(text.begin(), text.end(), shallow, false);
}

}  // namespace

std::string OutcomesJson(const TTryOutcomes& outcomes)
{
    if (outcomes.empty())
        return {};
    json array = json::array();
    for (const std::optional<TTryOutcome>& outcome : outcomes)
        array.push_back(outcome ? TryJson(*outcome) : json());
    // Replaced, not thrown at: a text not UTF-8 has no place here anyway.
    return array.dump(-1, ' ', false, json::error_handler_t::replace);
}

TTryOutcomes OutcomesOfJson(std::string_view text, const TTryTimes& tries)
{
    if (text.empty() || tries.empty() || tries.size() > kMaxKeptTries
        || text.size() > 2 + tries.size() * kMaxKeptBytesPerTry)
        return {};
    const json array = ParseShallow(text);
    if (!array.is_array() || array.size() != tries.size())
        return {};
    TTryOutcomes outcomes;
    outcomes.reserve(array.size());
    for (const json& entry : array) {
        if (entry.is_null())
            outcomes.emplace_back();
        else if (entry.is_object())
            outcomes.emplace_back(TryOfJson(entry));
        else
            return {};
    }
    if (TimesOf(outcomes) != tries)
        return {};
    return outcomes;
}
