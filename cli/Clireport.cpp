#include "cli/Clireport.h"

#include "cli/Clijson.h"
#include "engine/Httpfigures.h"
#include "engine/Itemtexts.h"
#include "vqlib/Csv.h"
#include "vqlib/Gbk.h"
#include "vqlib/Utf8.h"

#include <algorithm>
#include <functional>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

std::string Fixed2(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return buffer;
}

namespace {

std::vector<TDNSDispInfo> Records(const TRunReport& report)
{
    std::vector<TDNSDispInfo> records;
    for (const TItemResult& item : report.Items)
        records.push_back(item.Info);
    return records;
}

const char* StateName(uint8_t state)
{
    switch (state) {
    case tsDone: return "done";
    case tsNoResponse: return "no_response";
    case tsTesting: return "testing";
    default: return "waiting";
    }
}

// Microseconds are whole, so three decimals of a millisecond hold them exactly.
std::string Fixed3(double ms)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", ms);
    return buffer;
}

double Milliseconds(std::chrono::microseconds time) { return std::chrono::duration<double, std::milli>(time).count(); }

std::string TryTime(const std::optional<std::chrono::microseconds>& time)
{
    return time ? Fixed3(Milliseconds(*time)) : std::string();
}

// Every try of the report, made or not, has its place.
std::optional<std::chrono::microseconds> TryAt(const TItemResult& item, int32_t index)
{
    return static_cast<size_t>(index) < item.Tries.size() ? item.Tries[index] : std::nullopt;
}

std::optional<TTryOutcome> OutcomeAt(const TItemResult& item, int32_t index)
{
    return static_cast<size_t>(index) < item.Outcomes.size() ? item.Outcomes[index] : std::nullopt;
}

// Where a try's phases, and the means of them, have a tls phase.
bool FetchedOverTls(const TDNSDispInfo& info)
{
    return info.DoType == dtHomePage && IsHttpsTarget(info.DomainIP);
}

std::optional<THttpFigures> PageFigures(const TItemResult& item)
{
    return item.Info.DoType == dtHomePage ? HttpFigures(item.Outcomes) : std::nullopt;
}

// The character at position i, and steps past it. A malformed byte stands for
// itself: a stray 0x80..0x9F is a C1 control to some terminals.
char32_t NextCodePoint(std::string_view text, size_t& i)
{
    const TUtf8Char next = DecodeUtf8(text.substr(i));
    const char32_t codePoint = next.Valid ? next.CodePoint : static_cast<unsigned char>(text[i]);
    i += next.Length;
    return codePoint;
}

bool IsControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// Marks, embeddings, overrides and isolates: they can show a name backwards.
bool TurnsDirection(char32_t cp)
{
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

bool IsWide(char32_t cp)
{
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

std::string Pad(const std::string& text, int width, bool right)
{
    std::string blanks(std::max(0, width - DisplayWidth(text)), ' ');
    return right ? blanks + text : text + blanks;
}

using TRow = std::vector<std::string>;

// Columns padded to their widest cell by terminal width; those rightAligned
// says are right-aligned.
std::string Aligned(const std::vector<TRow>& rows, const std::function<bool(size_t column)>& rightAligned)
{
    std::vector<int> widths;
    for (const TRow& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    std::string out;
    for (const TRow& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            bool last = c + 1 == row.size();
            line += last && !rightAligned(c) ? row[c] : Pad(row[c], widths[c], rightAligned(c)) + (last ? "" : "  ");
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + "\n";
    }
    return out;
}

std::string AlignedRows(const std::vector<TRow>& rows, size_t rightColumn)
{
    return Aligned(rows, [rightColumn](size_t column) { return column == rightColumn; });
}

// Local time, as the user's clock shows it; iso adds the offset from UTC.
std::string LocalTime(std::chrono::system_clock::time_point time, bool iso)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(time));
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, iso ? "%Y-%m-%dT%H:%M:%S%z" : "%Y-%m-%d %H:%M:%S", &local);
    std::string text = buffer;
    if (iso && text.size() > 2)
        text.insert(text.size() - 2, ":");  // +0800 -> +08:00, as ISO 8601 writes it
    return text;
}

std::string OptionalFixed2(const std::optional<double>& value, const std::string& none)
{
    return value ? Fixed2(*value) : none;
}

// Microseconds are whole, so three decimals of a millisecond hold them exactly.
TJson TryTimeJson(const std::optional<std::chrono::microseconds>& time)
{
    return time ? FixedNumber(Milliseconds(*time), 3) : TJson();
}

std::string CertExpiryText(int64_t unixSeconds)
{
    return LocalTime(std::chrono::system_clock::from_time_t(static_cast<std::time_t>(unixSeconds)), true);
}

void AddPhasesJson(const THttpTry& fetch, bool tls, TJson& json)
{
    for (const THttpPhase& phase : kHttpPhases)
        if (tls || !phase.HttpsOnly)
            json[std::string(phase.Name) + "_ms"] = FixedNumber(Milliseconds(fetch.*phase.Time), 3);
}

// A fetch without an answer still tells how far it got.
void AddFetchJson(const THttpTry& fetch, bool tls, TJson& json)
{
    AddPhasesJson(fetch, tls, json);
    if (!fetch.Address.empty())
        json["address"] = fetch.Address;
    if (fetch.Status == 0)
        return;
    json["status"] = fetch.Status;
    json["body_bytes"] = fetch.BodyBytes;
    const std::optional<double> rate = RateKBps(fetch);
    json["rate_kbps"] = rate ? FixedNumber(*rate, 2) : TJson();
    if (fetch.CertExpiry != 0)
        json["cert_expires"] = CertExpiryText(fetch.CertExpiry);
}

TJson OutcomeJson(const TTryOutcome& outcome, bool tls)
{
    TJson json;
    json["ok"] = outcome.Ok;
    if (!outcome.Ok)
        json["cause"] = CauseCode(outcome);
    if (outcome.Http)
        AddFetchJson(*outcome.Http, tls, json);
    return json;
}

TJson HttpFiguresJson(const THttpFigures& figures, bool tls)
{
    TJson json;
    for (size_t i = 0; i < kHttpPhases.size(); ++i)
        if (tls || !kHttpPhases[i].HttpsOnly)
            json[std::string(kHttpPhases[i].Name) + "_ms"] = FixedNumber(figures.PhaseMs[i], 3);
    json["status"] = figures.Status;
    json["body_bytes"] = figures.BodyBytes;
    json["rate_kbps"] = figures.RateKBps ? FixedNumber(*figures.RateKBps, 2) : TJson();
    if (figures.CertExpiry != 0)
        json["cert_expires"] = CertExpiryText(figures.CertExpiry);
    return json;
}

// After the fields of earlier versions; nothing for a record made before
// outcomes were kept.
void AddOutcomesJson(const TItemResult& item, int32_t testTimes, TJson& json)
{
    if (item.Outcomes.empty())
        return;
    const std::string address = MeasuredAddress(item.Info, item.Outcomes);
    json["address"] = address.empty() ? TJson() : TJson(GbkToUtf8(address));
    const bool tls = FetchedOverTls(item.Info);
    TJson outcomes = TJson::array();
    for (int32_t index = 0; index < testTimes; ++index) {
        const std::optional<TTryOutcome> outcome = OutcomeAt(item, index);
        outcomes.push_back(outcome ? OutcomeJson(*outcome, tls) : TJson());
    }
    json["outcomes"] = std::move(outcomes);
    if (const std::optional<THttpFigures> figures = PageFigures(item))
        json["http"] = HttpFiguresJson(*figures, tls);
}

// What did not happen is left out: no average and no figures without a try
// that succeeded.
TJson ItemJson(const TItemResult& item, int32_t testTimes)
{
    const TDNSDispInfo& info = item.Info;
    TJson json;
    json["name"] = GbkToUtf8(info.Name);
    json["host"] = GbkToUtf8(info.DomainIP);
    json["method_code"] = int(info.DoType);
    json["method"] = MethodText(info.DoType);
    json["state"] = StateName(info.State);
    if (info.State == tsDone)
        json["average_ms"] = FixedNumber(info.AvgTime, 2);
    json["failed"] = info.FailCount;
    json["tries"] = testTimes;
    if (const std::optional<TTryFigures> figures = TryFigures(item.Tries)) {
        json["fastest_ms"] = FixedNumber(figures->Fastest, 3);
        json["slowest_ms"] = FixedNumber(figures->Slowest, 3);
        json["mean_ms"] = FixedNumber(figures->Mean, 3);
        json["stddev_ms"] = FixedNumber(figures->StdDev, 3);
    }
    TJson tries = TJson::array();
    for (int32_t index = 0; index < testTimes; ++index)
        tries.push_back(TryTimeJson(TryAt(item, index)));
    json["tries_ms"] = std::move(tries);
    if (item.TriesMade)
        json["tries_made"] = *item.TriesMade;
    AddOutcomesJson(item, testTimes, json);
    return json;
}

// One value for both layouts, so that a watch line says what a run says.
TJson RunJson(const TRunReport& report)
{
    const std::optional<double> overall = OverallAverage(Records(report));
    TJson items = TJson::array();
    for (const TItemResult& item : report.Items)
        items.push_back(ItemJson(item, report.TestTimes));
    TJson run;
    run["plan"] = GbkToUtf8(report.PlanName);
    run["average_ms"] = overall ? FixedNumber(*overall, 2) : TJson();
    run["items"] = std::move(items);
    if (report.Aborted)
        run["stopped"] = true;
    return run;
}

TJson WatchedRunJson(const TRunReport& report, int number)
{
    TJson run;
    run["run"] = number;
    run["started"] = LocalTime(report.Started, true);
    run.update(RunJson(report));
    return run;
}

// An item a stop cut short says how far it got.
std::string ItemNote(const TItemResult& item, int32_t testTimes)
{
    if (!item.TriesMade)
        return NoteText(item.Info, testTimes);
    return NoteText(item.Info, *item.TriesMade) + "已测" + std::to_string(*item.TriesMade) + "/" +
           std::to_string(testTimes) + "次";
}

std::string StoppedLine(const TRunReport& report)
{
    const auto finished = std::count_if(report.Items.begin(), report.Items.end(),
                                        [](const TItemResult& item) { return !item.TriesMade; });
    return "已停止: 已测完 " + std::to_string(finished) + "/" + std::to_string(report.Items.size()) + " 项\n";
}

}  // namespace

int32_t TriesMade(const TItemResult& item, int32_t testTimes) { return item.TriesMade.value_or(testTimes); }

std::string TerminalText(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        const char32_t cp = NextCodePoint(utf8, i);
        char escape[16];
        if (IsControl(cp) && i - start == 1)  // a byte of its own
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(cp));
        else if (IsControl(cp) || TurnsDirection(cp))
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
        else {
            out.append(utf8, start, i - start);
            continue;
        }
        out += escape;
    }
    return out;
}

std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows, size_t firstRightColumn)
{
    return Aligned(rows, [firstRightColumn](size_t column) { return column >= firstRightColumn; });
}

int DisplayWidth(const std::string& utf8)
{
    int width = 0;
    for (size_t i = 0; i < utf8.size();)
        width += IsWide(NextCodePoint(utf8, i)) ? 2 : 1;
    return width;
}

std::string FormatTable(const TRunReport& report)
{
    std::vector<TRow> rows{{"名称", "域名/IP地址", "测速方式", "耗时(毫秒)", "说明"}};
    for (const TItemResult& item : report.Items) {
        const TDNSDispInfo& info = item.Info;
        rows.push_back({TerminalText(GbkToUtf8(info.Name)), TerminalText(GbkToUtf8(info.DomainIP)),
                        MethodText(info.DoType), TimeText(info), TerminalText(ItemNote(item, report.TestTimes))});
    }
    std::string out = AlignedRows(rows, 3);
    std::optional<double> average = OverallAverage(Records(report));
    out += "\n测速项总数: " + std::to_string(report.Items.size()) + "\n";
    out += "平均耗时: " + (average ? AverageText(*average) : std::string("-")) + "\n";
    if (report.Aborted)
        out += StoppedLine(report);
    return out;
}

std::string FormatStartedTable(const TRunReport& report)
{
    return "开始时间: " + LocalTime(report.Started, false) + "\n" + FormatTable(report);
}

namespace {

// The means of a home page's answered tries; empty for any other item.
void AppendHttpFields(const TItemResult& item, std::vector<std::string>& fields)
{
    const std::optional<THttpFigures> figures = PageFigures(item);
    const bool tls = FetchedOverTls(item.Info);
    for (size_t i = 0; i < kHttpPhases.size(); ++i)
        fields.push_back(figures && (tls || !kHttpPhases[i].HttpsOnly) ? Fixed3(figures->PhaseMs[i]) : std::string());
    fields.push_back(figures ? std::to_string(figures->Status) : std::string());
    fields.push_back(figures ? std::to_string(figures->BodyBytes) : std::string());
    fields.push_back(figures && figures->RateKBps ? Fixed2(*figures->RateKBps) : std::string());
}

}  // namespace

namespace {

std::string CsvHeader(int32_t testTimes)
{
    // New columns go at the end, so that readers of the older ones go on reading.
    std::string out = "name,host,method_code,method,state,average_ms,failed,tries,fastest_ms,slowest_ms,"
                      "mean_ms,stddev_ms";
    for (int32_t index = 0; index < testTimes; ++index)
        out += ",try" + std::to_string(index + 1) + "_ms";
    for (int32_t index = 0; index < testTimes; ++index)
        out += ",try" + std::to_string(index + 1) + "_cause";
    for (const THttpPhase& phase : kHttpPhases)
        out += std::string(",") + phase.Name + "_ms";
    return out + ",status,body_bytes,rate_kbps,tries_made,stopped";
}

// Each item's fields, in the order of the header.
std::vector<std::vector<std::string>> CsvRows(const TRunReport& report)
{
    std::vector<std::vector<std::string>> rows;
    for (const TItemResult& item : report.Items) {
        const TDNSDispInfo& info = item.Info;
        std::string average = info.State == tsDone ? Fixed2(info.AvgTime) : std::string();
        const std::optional<TTryFigures> figures = TryFigures(item.Tries);
        auto figure = [&figures](double TTryFigures::*field) {
            return figures ? Fixed3((*figures).*field) : std::string();
        };
        std::vector<std::string> fields{GbkToUtf8(info.Name), GbkToUtf8(info.DomainIP),
                                        std::to_string(info.DoType), MethodText(info.DoType),
                                        StateName(info.State), average,
                                        std::to_string(info.FailCount), std::to_string(report.TestTimes),
                                        figure(&TTryFigures::Fastest), figure(&TTryFigures::Slowest),
                                        figure(&TTryFigures::Mean), figure(&TTryFigures::StdDev)};
        for (int32_t index = 0; index < report.TestTimes; ++index)
            fields.push_back(TryTime(TryAt(item, index)));
        for (int32_t index = 0; index < report.TestTimes; ++index) {
            const std::optional<TTryOutcome> outcome = OutcomeAt(item, index);
            fields.push_back(outcome ? CauseCode(*outcome) : std::string());
        }
        AppendHttpFields(item, fields);
        fields.push_back(std::to_string(TriesMade(item, report.TestTimes)));
        fields.push_back(report.Aborted ? "true" : "false");
        rows.push_back(std::move(fields));
    }
    return rows;
}

}  // namespace

std::string FormatCsv(const TRunReport& report)
{
    std::string out = CsvHeader(report.TestTimes) + "\r\n";
    for (const std::vector<std::string>& fields : CsvRows(report))
        out += CsvRecord(fields);
    return out;
}

std::string FormatWatchedCsv(const TRunReport& report, int number, bool header)
{
    std::string out = header ? CsvHeader(report.TestTimes) + ",run,started\r\n" : std::string();
    const std::string started = LocalTime(report.Started, true);
    for (std::vector<std::string>& fields : CsvRows(report)) {
        fields.push_back(std::to_string(number));
        fields.push_back(started);
        out += CsvRecord(fields);
    }
    return out;
}

std::string FormatJson(const TRunReport& report) { return JsonIndented(RunJson(report)) + "\n"; }

std::string FormatJsonLine(const TRunReport& report) { return JsonCompact(RunJson(report)) + "\n"; }

std::string FormatWatchedJsonLine(const TRunReport& report, int number)
{
    return JsonCompact(WatchedRunJson(report, number)) + "\n";
}

std::string FormatHistoryTable(const std::vector<TRunSummary>& runs)
{
    std::vector<TRow> rows{{"开始时间", "方案", "平均耗时(毫秒)", "响应/总数"}};
    for (const TRunSummary& run : runs)
        rows.push_back({LocalTime(run.Started, false), TerminalText(run.Plan), OptionalFixed2(run.Average, "-"),
                        std::to_string(run.Answered) + "/" + std::to_string(run.Total)});
    return AlignedRows(rows, 2) + "\n测速次数: " + std::to_string(runs.size()) + "\n";
}

std::string FormatHistoryCsv(const std::vector<TRunSummary>& runs)
{
    std::string out = "id,started,ended,plan,average_ms,answered,total\r\n";
    for (const TRunSummary& run : runs) {
        const std::vector<std::string> fields{std::to_string(run.Id), LocalTime(run.Started, true),
                                              LocalTime(run.Ended, true), run.Plan, OptionalFixed2(run.Average, ""),
                                              std::to_string(run.Answered), std::to_string(run.Total)};
        out += CsvRecord(fields);
    }
    return out;
}

std::string FormatHistoryJson(const std::vector<TRunSummary>& runs)
{
    TJson list = TJson::array();
    for (const TRunSummary& run : runs) {
        TJson json;
        json["id"] = run.Id;
        json["started"] = LocalTime(run.Started, true);
        json["ended"] = LocalTime(run.Ended, true);
        json["plan"] = run.Plan;
        json["average_ms"] = run.Average ? FixedNumber(*run.Average, 2) : TJson();
        json["answered"] = run.Answered;
        json["total"] = run.Total;
        list.push_back(std::move(json));
    }
    TJson history;
    history["runs"] = std::move(list);
    return JsonIndented(history) + "\n";
}
