#pragma once
// The hop lists of two path reports in JSON, read into one shape so they can
// be set side by side: mtr's (--json: report.hubs, a silent hop as "???") and
// orvel-cli's (--path --format json: hops, a silent hop with no addresses and
// null figures).

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

struct TReportedHop {
    int Hop = 0;
    std::vector<std::string> Addresses;  // none: silent
    double LossPercent = 100;
    std::optional<double> MeanMs;  // none without an answer

    std::string FirstAddress() const { return Addresses.empty() ? std::string() : Addresses.front(); }
};

struct TReportedPath {
    bool Read = false;
    std::string Error;  // when not Read
    std::vector<TReportedHop> Hops;
};

namespace PathReports {

inline std::optional<double> NumberOrNone(const nlohmann::json& object, const char* key)
{
    const auto field = object.find(key);
    if (field == object.end() || !field->is_number())
        return std::nullopt;
    return field->get<double>();
}

inline TReportedPath Failed(const std::string& error)
{
    TReportedPath path;
    path.Error = error;
    return path;
}

}  // namespace PathReports

inline TReportedPath ReadMtrReport(const std::string& text)
{
    using namespace PathReports;
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded())
        return Failed("mtr's output is no JSON");
    const nlohmann::json* hubs = nullptr;
    if (document.contains("report") && document["report"].is_object() && document["report"].contains("hubs"))
        hubs = &document["report"]["hubs"];
    if (!hubs || !hubs->is_array())
        return Failed("mtr's output has no report.hubs");
    TReportedPath path;
    for (const nlohmann::json& hub : *hubs) {
        TReportedHop hop;
        hop.Hop = static_cast<int>(NumberOrNone(hub, "count").value_or(0));
        const std::string host = hub.value("host", "???");
        if (host != "???")
            hop.Addresses.push_back(host);
        hop.LossPercent = NumberOrNone(hub, "Loss%").value_or(100);
        // mtr gives a hop that never answered an average of 0.
        if (hop.LossPercent < 100)
            hop.MeanMs = NumberOrNone(hub, "Avg");
        path.Hops.push_back(hop);
    }
    path.Read = true;
    return path;
}

inline TReportedPath ReadOrvelReport(const std::string& text)
{
    using namespace PathReports;
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded())
        return Failed("orvel-cli's output is no JSON");
    if (!document.is_object() || !document.contains("hops") || !document["hops"].is_array())
        return Failed("orvel-cli's output has no hops");
    TReportedPath path;
    for (const nlohmann::json& entry : document["hops"]) {
        TReportedHop hop;
        hop.Hop = static_cast<int>(NumberOrNone(entry, "hop").value_or(0));
        if (entry.contains("addresses") && entry["addresses"].is_array())
            for (const nlohmann::json& address : entry["addresses"])
                if (address.is_string())
                    hop.Addresses.push_back(address.get<std::string>());
        hop.LossPercent = NumberOrNone(entry, "loss_percent").value_or(100);
        hop.MeanMs = NumberOrNone(entry, "mean_ms");
        path.Hops.push_back(hop);
    }
    path.Read = true;
    return path;
}

// The same hops in the same order, each answered first from the same address
// or silent in both.
inline bool SameHops(const TReportedPath& a, const TReportedPath& b)
{
    if (!a.Read || !b.Read || a.Hops.size() != b.Hops.size())
        return false;
    for (size_t i = 0; i < a.Hops.size(); ++i)
        if (a.Hops[i].Hop != b.Hops[i].Hop || a.Hops[i].FirstAddress() != b.Hops[i].FirstAddress())
            return false;
    return true;
}

struct TMeanDifference {
    int Hop = 0;  // 0: no hop has a mean in both
    double Ms = 0;  // b's mean less a's, the largest in size
};

inline TMeanDifference LargestMeanDifference(const TReportedPath& a, const TReportedPath& b)
{
    TMeanDifference largest;
    const size_t hops = std::min(a.Hops.size(), b.Hops.size());
    for (size_t i = 0; i < hops; ++i) {
        if (!a.Hops[i].MeanMs || !b.Hops[i].MeanMs)
            continue;
        const double difference = *b.Hops[i].MeanMs - *a.Hops[i].MeanMs;
        if (largest.Hop == 0 || std::fabs(difference) > std::fabs(largest.Ms))
            largest = {a.Hops[i].Hop, difference};
    }
    return largest;
}
