#include "cli/Climetrics.h"

#include "engine/Httpfigures.h"
#include "engine/Itemtexts.h"
#include "vqlib/Gbk.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <utility>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* MethodLabel(int8_t method)
{
    switch (method) {
    case dtHomePage: return "http";
    case dtDNSQuery: return "dns";
    case dtTCPConnect: return "tcp";
    default: return "ping";
    }
}

// Nine digits hold a microsecond of anything shorter than 1000 s, and drop
// the noise of converting milliseconds.
std::string Number(double value)
{
    if (std::isnan(value))
        return "NaN";
    char buffer[64];
    // A timestamp in seconds has ten digits, all of which count.
    if (std::fabs(value) < 0x1p53 && value == std::trunc(value)) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

double Seconds(double milliseconds) { return milliseconds / 1000.0; }

struct TFamily {
    const char* Name;
    const char* Unit;  // empty: none
    const char* Help;
};

class TExposition {
public:
    explicit TExposition(TMetricsFlavour flavour) : FFlavour(flavour) {}

    void Family(const TFamily& family)
    {
        FOut += std::string("# TYPE ") + family.Name + " gauge\n";
        if (FFlavour == TMetricsFlavour::OpenMetrics && *family.Unit)
            FOut += std::string("# UNIT ") + family.Name + " " + family.Unit + "\n";
        FOut += std::string("# HELP ") + family.Name + " " + family.Help + "\n";
    }
    void Sample(const char* name, const std::string& labels, double value)
    {
        FOut += std::string(name) + "{" + labels + "} " + Number(value) + "\n";
    }
    std::string Finish()
    {
        if (FFlavour == TMetricsFlavour::OpenMetrics)
            FOut += "# EOF\n";
        return std::move(FOut);
    }

private:
    TMetricsFlavour FFlavour;
    std::string FOut;
};

std::string Label(const char* name, const std::string& utf8)
{
    return std::string(name) + "=\"" + MetricsLabelValue(utf8) + "\"";
}

std::string ItemLabels(const std::string& plan, const std::string& item, const TDNSDispInfo& info)
{
    return Label("plan", plan) + "," + Label("item", item) + "," + Label("host", GbkToUtf8(info.DomainIP)) + "," +
           Label("method", MethodLabel(info.DoType));
}

// Every item's labels. A plan may hold the same item twice, and a scraper
// refuses a whole exposition that repeats a series: the second is named
// "name (2)", and so on.
std::vector<std::string> UniqueItemLabels(const std::string& plan, const std::vector<TItemResult>& items)
{
    std::vector<std::string> all;
    std::set<std::string> seen;
    // The number to try next for each item's own labels: the ones below it
    // are taken already, so many copies of an item are not counted up again.
    std::map<std::string, int> nextNumber;
    for (const TItemResult& item : items) {
        const std::string name = GbkToUtf8(item.Info.Name);
        const std::string own = ItemLabels(plan, name, item.Info);
        std::string labels = own;
        if (!seen.insert(labels).second) {
            int& n = nextNumber.try_emplace(own, 2).first->second;
            do
                labels = ItemLabels(plan, name + " (" + std::to_string(n++) + ")", item.Info);
            while (!seen.insert(labels).second);
        }
        all.push_back(std::move(labels));
    }
    return all;
}

using TItemValue = std::function<double(const TItemResult& item, const std::optional<TTryFigures>& figures)>;

struct TItemFamily {
    TFamily Family;
    TItemValue Value;
};

std::vector<TItemFamily> ItemFamilies(int32_t tries)
{
    const auto figure = [](double TTryFigures::*field) {
        return [field](const TItemResult&, const std::optional<TTryFigures>& figures) {
            return figures ? Seconds((*figures).*field) : kNaN;
        };
    };
    return {
        {{"orvel_item_mean_seconds", "seconds", "Mean time of the item's answered tries."},
         figure(&TTryFigures::Mean)},
        {{"orvel_item_fastest_seconds", "seconds", "Time of the item's fastest answered try."},
         figure(&TTryFigures::Fastest)},
        {{"orvel_item_slowest_seconds", "seconds", "Time of the item's slowest answered try."},
         figure(&TTryFigures::Slowest)},
        {{"orvel_item_tries", "", "Tries made on the item in the run."},
         [tries](const TItemResult& item, const std::optional<TTryFigures>&) {
             return double(TriesMade(item, tries));
         }},
        {{"orvel_item_failed_tries", "", "Tries of the item that got no answer."},
         [](const TItemResult& item, const std::optional<TTryFigures>&) { return double(item.Info.FailCount); }},
        {{"orvel_item_success", "", "1 when the item answered at least once, else 0."},
         [](const TItemResult& item, const std::optional<TTryFigures>&) {
             return item.Info.State == tsDone ? 1.0 : 0.0;
         }},
    };
}

struct TPage {
    size_t Item;  // index in the report
    THttpFigures Figures;
    bool Tls;
};

// The home pages that got an answer; the others have no phases to tell.
std::vector<TPage> AnsweredPages(const std::vector<TItemResult>& items)
{
    std::vector<TPage> pages;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].Info.DoType != dtHomePage)
            continue;
        if (std::optional<THttpFigures> figures = HttpFigures(items[i].Outcomes))
            pages.push_back({i, std::move(*figures), IsHttpsTarget(items[i].Info.DomainIP)});
    }
    return pages;
}

void PageFamilies(const std::vector<TItemResult>& items, const std::vector<std::string>& labels, TExposition& out)
{
    const std::vector<TPage> pages = AnsweredPages(items);
    if (pages.empty())
        return;
    const char* phaseFamily = "orvel_item_http_phase_seconds";
    out.Family({phaseFamily, "seconds", "Mean time of each phase of the home page's answered fetches."});
    for (const TPage& page : pages)
        for (size_t p = 0; p < kHttpPhases.size(); ++p)
            if (page.Tls || !kHttpPhases[p].HttpsOnly)
                out.Sample(phaseFamily, labels[page.Item] + "," + Label("phase", kHttpPhases[p].Name),
                           Seconds(page.Figures.PhaseMs[p]));
    const char* statusFamily = "orvel_item_http_status_code";
    out.Family({statusFamily, "", "HTTP status of the home page's last answer."});
    for (const TPage& page : pages)
        out.Sample(statusFamily, labels[page.Item], page.Figures.Status);
    const char* expiryFamily = "orvel_item_tls_cert_expiry_timestamp_seconds";
    bool expiryTold = false;
    for (const TPage& page : pages) {
        if (!page.Tls || page.Figures.CertExpiry == 0)
            continue;
        if (!std::exchange(expiryTold, true))
            out.Family({expiryFamily, "seconds", "When the certificate of the home page's server expires."});
        out.Sample(expiryFamily, labels[page.Item], static_cast<double>(page.Figures.CertExpiry));
    }
}

}  // namespace

std::string MetricsLabelValue(const std::string& utf8)
{
    std::string out;
    for (char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

std::string FormatMetrics(const TRunReport& report, TMetricsFlavour flavour)
{
    const std::string plan = GbkToUtf8(report.PlanName);
    std::vector<std::optional<TTryFigures>> figures;
    std::vector<TDNSDispInfo> records;
    for (const TItemResult& item : report.Items) {
        figures.push_back(TryFigures(item.Tries));
        records.push_back(item.Info);
    }

    const std::vector<std::string> labels = UniqueItemLabels(plan, report.Items);
    TExposition out(flavour);
    for (const TItemFamily& family : ItemFamilies(report.TestTimes)) {
        out.Family(family.Family);
        for (size_t i = 0; i < report.Items.size(); ++i)
            out.Sample(family.Family.Name, labels[i], family.Value(report.Items[i], figures[i]));
    }
    PageFamilies(report.Items, labels, out);
    const std::string runLabels = Label("plan", plan);
    const std::optional<double> average = OverallAverage(records);
    out.Family({"orvel_run_average_seconds", "seconds", "Mean of the answered items' average times."});
    out.Sample("orvel_run_average_seconds", runLabels, average ? Seconds(*average) : kNaN);
    out.Family({"orvel_run_duration_seconds", "seconds", "How long the run took."});
    out.Sample("orvel_run_duration_seconds", runLabels,
               std::chrono::duration<double>(report.Ended - report.Started).count());
    out.Family({"orvel_run_stopped", "", "1 when the run was stopped before every item was measured, else 0."});
    out.Sample("orvel_run_stopped", runLabels, report.Aborted ? 1.0 : 0.0);
    return out.Finish();
}
