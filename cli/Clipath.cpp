#include "cli/Clipath.h"

#include "cli/Clijson.h"
#include "cli/Clireport.h"
#include "cli/Clirun.h"
#include "cli/Progressline.h"
#include "engine/Pathtable.h"
#include "engine/Thread.h"
#include "vqlib/Csv.h"
#include "vqlib/Programdir.h"
#include "vqlib/Vqnet.h"

#include <netdb.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>

namespace {

// An address as the user asked to see it: its name when there is one.
std::string Shown(const sockaddr_storage& address, const TPathNames& names)
{
    const std::string text = AddressText(address);
    const auto name = names.find(text);
    return name == names.end() ? text : TerminalText(name->second);
}

TJson Figure(const TPathHop& hop, double microseconds)
{
    return hop.Received ? FixedNumber(microseconds / 1000.0, 3) : TJson(nullptr);
}

TJson HopJson(const TPathHop& hop, const TPathNames& names)
{
    TJson addresses = TJson::array();
    TJson named = TJson::array();
    for (const sockaddr_storage& address : hop.Addresses) {
        const std::string text = AddressText(address);
        addresses.push_back(text);
        const auto name = names.find(text);
        named.push_back(name == names.end() ? TJson(nullptr) : TJson(name->second));
    }
    TJson json{{"hop", hop.Hop}, {"addresses", addresses}};
    if (!names.empty())
        json["names"] = named;
    json["sent"] = hop.Sent;
    json["received"] = hop.Received;
    json["loss_percent"] = FixedNumber(hop.LossPercent(), 1);
    json["last_ms"] = Figure(hop, static_cast<double>(hop.Last.count()));
    json["mean_ms"] = Figure(hop, hop.MeanMicroseconds);
    json["best_ms"] = Figure(hop, static_cast<double>(hop.Best.count()));
    json["worst_ms"] = Figure(hop, static_cast<double>(hop.Worst.count()));
    json["stdev_ms"] = Figure(hop, hop.StdDevMicroseconds);
    return json;
}

// The host's address: a literal as typed (brackets allowed), a name through
// the system's lookup.
std::string AddressOf(const std::string& host, int family)
{
    std::string literal = host;
    if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']')
        literal = literal.substr(1, literal.size() - 2);
    sockaddr_storage address{};
    if (ParseAddress(literal, address))
        return literal;
    std::string ip;
    if (host.empty() || !TWASTool().ResolveHostIP(host, ip, family))
        throw EUsageError("--path: '" + TerminalText(host) + "' has no address");
    return ip;
}

void ExplainFailure(const TPathReport& report)
{
    if (report.Failure == TTryCause::Denied) {
        std::cerr << "orvel-cli: --path could open no ICMP socket; as root, give the program the capability (setcap "
                  << "cap_net_raw+ep " << RunningProgram("orvel-cli") << ") or let your group open ping sockets (sysctl -w "
                  << "net.ipv4.ping_group_range=\"0 2147483647\")\n";
    } else if (report.Failure != TTryCause::None) {
        TTryOutcome failed;
        failed.Cause = report.Failure;
        failed.Shortage = report.SystemError;
        std::cerr << "orvel-cli: --path could not send its requests (" << CauseCode(failed) << ")\n";
    }
}

}  // namespace

std::optional<std::string> SystemReverseName(const sockaddr_storage& address)
{
    char name[NI_MAXHOST] = {};
    const socklen_t length = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, name, sizeof name, nullptr, 0, NI_NAMEREQD)
        != 0)
        return std::nullopt;
    return std::string(name);
}

TPathNames ReverseNames(const TPathReport& report, const TReverseLookup& lookup)
{
    TPathNames names;
    for (const TPathHop& hop : report.Hops)
        for (const sockaddr_storage& address : hop.Addresses) {
            const std::string text = AddressText(address);
            if (names.count(text))
                continue;
            if (std::optional<std::string> name = lookup(address))
                names.emplace(text, std::move(*name));
        }
    return names;
}

std::string FormatPathTable(const TPathReport& report, const std::string& target, const std::string& address,
                            const TPathNames& names)
{
    std::vector<TPathRow> rows{PathTableHeader()};
    for (TPathRow& row : PathTableRows(report, [&](const sockaddr_storage& a) { return Shown(a, names); }))
        rows.push_back(std::move(row));
    std::string out = "路由跟踪: " + TerminalText(target) + (target == address ? "" : " (" + address + ")") + "\n";
    out += AlignedColumns(rows, 2);
    out += PathStateText(report, report.RoundsSent) + "\n";
    return out;
}

std::string FormatPathCsv(const TPathReport& report, const TPathNames& names)
{
    // The table's columns, with the name beside the address; a hop's further
    // addresses on lines of their own with its number and no figures.
    std::string out = "hop,address,name,loss_percent,sent,last_ms,mean_ms,best_ms,worst_ms,stdev_ms\r\n";
    std::string hop;
    for (TPathRow& row : PathTableRows(report)) {
        if (row[0].empty())
            row[0] = hop;
        hop = row[0];
        if (row[1] == "???")
            row[1].clear();
        const auto name = names.find(row[1]);
        row.insert(row.begin() + 2, name == names.end() ? std::string() : name->second);
        out += CsvRecord(row);
    }
    return out;
}

std::string FormatPathJson(const TPathReport& report, const std::string& target, const std::string& address,
                           int maxHops, const TPathNames& names)
{
    TJson hops = TJson::array();
    for (const TPathHop& hop : report.Hops)
        hops.push_back(HopJson(hop, names));
    TJson json{{"target", target},       {"address", address},        {"reached", report.Reached},
               {"stopped", report.Stopped}, {"rounds", report.RoundsSent}, {"max_hops", maxHops},
               {"hops", hops}};
    return JsonIndented(json) + "\n";
}

int RunPath(const TPathOptions& path, TOutputFormat format, TOutput& output, TRunStop& stop)
{
    const std::string address = AddressOf(path.Host, path.Family);
    TPathSetup setup;
    ParseAddress(address, setup.Target);
    setup.MaxHops = path.MaxHops;
    setup.Rounds = path.Rounds;
    setup.Interval = path.Interval;
    setup.Timeout = path.Timeout;

    std::mutex mutex;
    std::condition_variable changed;
    TPathReport last;
    bool finished = false;
    TProgressLine line([](const std::string& text) {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    });
    const bool showProgress = !path.Quiet && isatty(STDERR_FILENO);
    {
        TPathTrace trace(setup, [&](const TPathReport& report) {
            std::lock_guard<std::mutex> lock(mutex);
            last = report;
            finished = finished || report.Finished;
            changed.notify_all();
        });
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished) {
            if (showProgress)
                line.Show(last.RoundsSent, path.Rounds);
            lock.unlock();
            if (stop.WaitFor(std::chrono::milliseconds(100)))
                trace.Stop();
            lock.lock();
            changed.wait_for(lock, std::chrono::milliseconds(1), [&] { return finished; });
        }
    }
    // The try loop ends by itself once the trace has let go of it.
    TThread::JoinAll();
    if (showProgress)
        line.Show(path.Rounds, path.Rounds);
    ExplainFailure(last);
    const TPathNames names = path.Names ? ReverseNames(last, SystemReverseName) : TPathNames{};
    switch (format) {
    case TOutputFormat::Csv: output.Write(FormatPathCsv(last, names)); break;
    case TOutputFormat::Json: output.Write(FormatPathJson(last, path.Host, address, path.MaxHops, names)); break;
    default: output.Write(FormatPathTable(last, path.Host, address, names)); break;
    }
    return last.Reached ? 0 : 1;
}
