#include "cli/Clioptions.h"

#include "cli/Clireport.h"
#include "engine/Measuredns.h"
#include "engine/Measurehomepage.h"
#include "engine/Measuretcp.h"
#include "engine/Testrun.h"
#include "vqlib/Dnsname.h"
#include "vqlib/Vqnet.h"

#include <CLI/CLI.hpp>
#include <sys/socket.h>

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>

namespace {

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// The fields of an ISO 8601 date or time, as written.
struct TDateFields {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
    int64_t Micros = 0;
    bool HasOffset = false;  // Z or an offset: not local time
    int OffsetSeconds = 0;   // east of UTC
};

// Reads a text piece by piece; a piece that is not there leaves it unmoved.
class TScanner {
public:
    explicit TScanner(const std::string& text) : FText(text) {}
    bool AtEnd() const { return FPos == FText.size(); }
    bool Take(const char* oneOf)
    {
        if (AtEnd() || !std::strchr(oneOf, FText[FPos]))
            return false;
        ++FPos;
        return true;
    }
    char Last() const { return FText[FPos - 1]; }
    // Exactly count digits.
    bool Number(size_t count, int& value)
    {
        if (FText.size() - FPos < count)
            return false;
        value = 0;
        for (size_t i = 0; i < count; ++i) {
            const char c = FText[FPos + i];
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + (c - '0');
        }
        FPos += count;
        return true;
    }
    // One to nine digits of a fraction of a second, as microseconds.
    bool Fraction(int64_t& micros)
    {
        size_t digits = 0;
        micros = 0;
        while (!AtEnd() && std::isdigit(static_cast<unsigned char>(FText[FPos])) && digits < 9) {
            if (digits < 6)
                micros = micros * 10 + (FText[FPos] - '0');
            ++digits;
            ++FPos;
        }
        for (size_t d = digits; d < 6; ++d)
            micros *= 10;
        return digits > 0;
    }

private:
    const std::string& FText;
    size_t FPos = 0;
};

std::optional<TDateFields> ScanDate(const std::string& text)
{
    TScanner in(text);
    TDateFields f;
    if (!in.Number(4, f.Year) || !in.Take("-") || !in.Number(2, f.Month) || !in.Take("-") || !in.Number(2, f.Day))
        return std::nullopt;
    if (in.AtEnd())
        return f;
    if (!in.Take("T ") || !in.Number(2, f.Hour) || !in.Take(":") || !in.Number(2, f.Minute))
        return std::nullopt;
    if (in.Take(":")) {
        if (!in.Number(2, f.Second))
            return std::nullopt;
        if (in.Take(".,") && !in.Fraction(f.Micros))
            return std::nullopt;
    }
    if (in.Take("Z")) {
        f.HasOffset = true;
    } else if (in.Take("+-")) {
        const int sign = in.Last() == '-' ? -1 : 1;
        int hours = 0, minutes = 0;
        if (!in.Number(2, hours))
            return std::nullopt;
        if (in.Take(":") ? !in.Number(2, minutes) : !in.AtEnd() && !in.Number(2, minutes))
            return std::nullopt;
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        f.HasOffset = true;
        f.OffsetSeconds = sign * (hours * 3600 + minutes * 60);
    }
    if (!in.AtEnd())
        return std::nullopt;
    return f;
}

}  // namespace

std::chrono::system_clock::time_point ParseDate(const std::string& text)
{
    const auto bad = [&text] {
        return EUsageError("bad date '" + text + "' (use YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS][Z|+HH:MM])");
    };
    const std::optional<TDateFields> date = ScanDate(text);
    if (!date || date->Month < 1 || date->Month > 12 || date->Day < 1 ||
        date->Day > DaysInMonth(date->Year, date->Month) || date->Hour > 23 || date->Minute > 59 ||
        date->Second > 59)
        throw bad();
    std::tm fields{};
    fields.tm_year = date->Year - 1900;
    fields.tm_mon = date->Month - 1;
    fields.tm_mday = date->Day;
    fields.tm_hour = date->Hour;
    fields.tm_min = date->Minute;
    fields.tm_sec = date->Second;

    std::time_t seconds;
    if (date->HasOffset) {
        seconds = ::timegm(&fields) - date->OffsetSeconds;
    } else {
        fields.tm_isdst = -1;  // whatever the local rule says for that day
        seconds = std::mktime(&fields);
        if (seconds == static_cast<std::time_t>(-1) && fields.tm_year + 1900 != 1969)
            throw bad();
    }
    // The clock's span ends in 2262 and begins in 1677; beyond, the ends stand in.
    using TClock = std::chrono::system_clock;
    const auto limit = std::chrono::floor<std::chrono::seconds>(TClock::time_point::max().time_since_epoch());
    if (seconds >= limit.count())
        return TClock::time_point::max();
    if (seconds <= -limit.count())
        return TClock::time_point::min();
    return TClock::from_time_t(seconds) + std::chrono::microseconds(date->Micros);
}


namespace {

constexpr std::array<std::pair<const char*, TOutputFormat>, 4> kFormats{{{"table", TOutputFormat::Table},
                                                                         {"csv", TOutputFormat::Csv},
                                                                         {"json", TOutputFormat::Json},
                                                                         {"openmetrics", TOutputFormat::OpenMetrics}}};

// Empty when text is a whole decimal number from low to high, else the line
// that says what is wrong with it.
std::string WholeNumberError(const std::string& name, const std::string& text, int64_t low, int64_t high)
{
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error == std::errc::invalid_argument || rest != end)
        return name + " takes a whole number, not '" + text + "'";
    if (error == std::errc::result_out_of_range || !CLI::Range(low, high)(std::to_string(value)).empty())
        return name + " must be from " + std::to_string(low) + " to " + std::to_string(high) + ", not " + text;
    return {};
}

int64_t ParseWhole(const std::string& name, const std::string& text, int64_t low, int64_t high)
{
    if (const std::string error = WholeNumberError(name, text, low, high); !error.empty())
        throw EUsageError(error);
    return std::stoll(text);
}

// ADDR:PORT, [IPV6]:PORT, :PORT or PORT; the address is 127.0.0.1 unless given.
TListenAddress ParseListen(const std::string& text)
{
    TListenAddress listen{"127.0.0.1", 0};
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || text.compare(close, 2, "]:") != 0)
            throw EUsageError("--listen takes [IPV6]:PORT, not '" + text + "'");
        listen.Host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        if (StrictAddressFamily(listen.Host) != AF_INET6)
            throw EUsageError("--listen: '" + listen.Host + "' is no IPv6 address");
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        const std::string host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host == "localhost")
            listen.Host = "127.0.0.1";
        else if (!host.empty())
            listen.Host = host;
        if (StrictAddressFamily(listen.Host) != AF_INET)
            throw EUsageError("--listen takes an IP address or localhost, not '" + host +
                              "' (write an IPv6 address in brackets)");
    }
    listen.Port = static_cast<uint16_t>(ParseWhole("--listen's port", port, 0, 65535));
    return listen;
}

std::string LongHostLine(const std::string& name, const std::string& host)
{
    return host.size() > kLongestHostName ? name + ": a host has at most " + std::to_string(kLongestHostName) +
                                                " bytes, not " + std::to_string(host.size())
                                          : std::string();
}

// A web address or a path is never a host: a Ping of one would only ask the
// name server for nonsense.
std::string PingHostLine(const std::string& name, const std::string& host)
{
    if (host.find("://") != std::string::npos)
        return name + " takes a host or IP address, not the web address '" + TerminalText(host) +
               "' (--http fetches a home page)";
    if (host.find('/') != std::string::npos)
        return name + ": '" + TerminalText(host) + "' is no host or IP address";
    return LongHostLine(name, host);
}

std::string PortLine(const std::string& name, const std::string& text)
{
    return name + ": the port of '" + TerminalText(text) + "' is not from 1 to 65535";
}

std::string HomePageLine(const std::string& name, const std::string& text)
{
    switch (HomePageTargetFault(text)) {
    case THomePageFault::None:
    case THomePageFault::Empty: return {};
    case THomePageFault::Scheme: return name + " takes http:// or https:// addresses, not '" + TerminalText(text) + "'";
    case THomePageFault::Malformed: return name + ": '" + TerminalText(text) + "' is no web address";
    case THomePageFault::BadPort: return PortLine(name, text);
    case THomePageFault::LongHost: return name + ": a host has at most " + std::to_string(kLongestHostName) + " bytes";
    case THomePageFault::LongUrl:
        return name + ": a web address has at most " + std::to_string(kLongestHomePageUrl) + " bytes, not " +
               std::to_string(HomePageURL(text).size());
    }
    return {};
}

// host:port and [IPv6]:port, of a TCP connection or a DNS server.
std::string HostAndPortLine(int8_t method, const std::string& name, const std::string& text, const std::string& forms)
{
    const std::optional<std::string> host = MeasuredHost(method, text);
    if (host)
        return LongHostLine(name, *host);
    if (TcpTargetFault(text) == TTcpTargetFault::BadPort)
        return PortLine(name, text);
    return name + " takes " + forms + ", not '" + TerminalText(text) + "'";
}

std::string ParseDnsName(const std::string& text)
{
    if (!IsDnsName(text))
        throw EUsageError("--dns-name takes a DNS name of dot-separated labels of 1 to 63 letters, digits, '-' or "
                          "'_', 253 bytes at most, not '" + text + "'");
    return text;
}

// The validators below return whole lines; CLI11 puts the option's name and
// ": " before them, which ToUsageError takes off again.

// Whole decimal numbers only: CLI11's own reading would take 010 as octal
// and 0x10 as hex. The help line gets the default and the bounds.
CLI::Option* Bounded(CLI::Option* option, int64_t low, int64_t high)
{
    const std::string name = option->get_name();
    option->transform(CLI::Validator(
        [name, low, high](std::string& text) {
            std::string error = WholeNumberError(name, text, low, high);
            if (error.empty())
                text = std::to_string(std::stoll(text));
            return error;
        },
        ""));
    return option->description(option->get_description() + " (default " + option->get_default_str() + "; " +
                               std::to_string(low) + " to " + std::to_string(high) + ")");
}

// Seconds with an optional fraction, handed on as whole milliseconds.
CLI::Option* Seconds(CLI::Option* option, int64_t longest)
{
    const std::string name = option->get_name();
    option->transform(CLI::Validator(
        [name, longest](std::string& text) -> std::string {
            double seconds = 0;
            const char* end = text.data() + text.size();
            const auto [rest, error] = std::from_chars(text.data(), end, seconds, std::chars_format::fixed);
            if (text.empty() || error != std::errc() || rest != end)
                return name + " takes seconds such as 10 or 0.5, not '" + text + "'";
            // NaN and infinity fail the comparison before any rounding.
            const std::string millis =
                seconds >= 0 && seconds <= static_cast<double>(longest) ? std::to_string(std::llround(seconds * 1000))
                                                                         : std::string("-1");
            if (!CLI::Range(int64_t{1}, longest * 1000)(millis).empty())
                return name + " must be from 0.001 to " + std::to_string(longest) + " seconds, not " + text;
            text = millis;
            return {};
        },
        ""));
    return option;
}

// Whatever parse throws is the line for the value.
CLI::Option* ReadBy(CLI::Option* option, std::function<void(const std::string&)> parse)
{
    return option->check(CLI::Validator(
        [parse](std::string& text) -> std::string {
            try {
                parse(text);
            } catch (const EUsageError& error) {
                return error.what();
            }
            return {};
        },
        ""));
}

CLI::Option* NotEmpty(CLI::Option* option, const std::string& line)
{
    return option->check(
        CLI::Validator([line](std::string& text) { return text.empty() ? line : std::string(); }, ""));
}

// The format's name, handed on as the enumeration's number.
CLI::Option* FormatName(CLI::Option* option)
{
    option->transform(CLI::Validator(
        [](std::string& text) -> std::string {
            for (const auto& [name, format] : kFormats) {
                if (text == name) {
                    text = std::to_string(static_cast<int>(format));
                    return {};
                }
            }
            return "unknown format '" + text + "' (use table, csv, json or openmetrics)";
        },
        ""));
    return option->default_str(kFormats.front().first);
}

// Lays the help out as the other programs of the system do: the name
// column, then the text wrapped to 79 columns under itself.
class THelpFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override
    {
        std::string help = app->get_description() + "\n";
        for (const std::string& group : app->get_groups()) {
            help += "\n" + group + ":\n";
            for (const CLI::Option* option :
                 app->get_options([&group](const CLI::Option* o) { return o->get_group() == group; }))
                help += OptionLines(option);
        }
        return help + "\n" + app->get_footer();
    }

private:
    static constexpr size_t kNameColumn = 22;
    static constexpr size_t kWidth = 79;

    static std::string Names(const CLI::Option* option)
    {
        if (!option->nonpositional())
            return option->get_type_name();
        std::string names;
        for (const std::string& name : option->get_snames())
            names += (names.empty() ? "-" : ", -") + name;
        for (const std::string& name : option->get_lnames())
            names += (names.empty() ? "--" : ", --") + name;
        if (option->get_type_size() > 0)
            names += " " + option->get_type_name();
        return names;
    }

    static std::string Text(const CLI::Option* option)
    {
        std::string with;
        for (const CLI::Option* needed : option->get_needs())
            with += (with.empty() ? "with " : " and ") + needed->get_name();
        return with.empty() ? option->get_description() : with + ": " + option->get_description();
    }

    static std::string OptionLines(const CLI::Option* option)
    {
        std::string lines = "  " + Names(option);
        size_t column = lines.size();
        if (column + 2 > kNameColumn) {
            lines += "\n";
            column = 0;
        }
        std::istringstream words(Text(option));
        std::string word;
        bool first = true;
        while (words >> word) {
            if (!first && column + 1 + word.size() > kWidth) {
                lines += "\n";
                column = 0;
                first = true;
            }
            if (first) {
                lines += std::string(kNameColumn - column, ' ');
                column = kNameColumn;
            } else {
                lines += ' ';
                ++column;
            }
            lines += word;
            column += word.size();
            first = false;
        }
        return lines + "\n";
    }
};

constexpr const char* kTargetsGroup = "Targets (no store is read and nothing recorded; each is named as typed)";

const char* const kDescription =
    "Usage: orvel-cli [OPTIONS] TARGET... [--ping HOST]... [--http HOST_OR_URL]... [--dns SERVER]...\n"
    "                 [--tcp HOST:PORT]...\n"
    "       orvel-cli [OPTIONS] [--dir DIR] [--plan NAME] [--no-record]\n"
    "       orvel-cli --history [--dir DIR] [--plan NAME] [--since DATE] [--format FMT]\n"
    "       orvel-cli --list [--dir DIR]\n"
    "       orvel-cli --path HOST [-c N] [-i MS] [-t MS] [--max-hops N] [--names] [--format FMT]\n"
    "\n"
    "Measures the targets given, or a saved test plan, and prints each item's\n"
    "average time and failure ratio, and the overall average. Each completed run\n"
    "of a plan is recorded in History.db in the same folder as the plans.";

const char* const kExitStatus =
    "Exit status: 0 when every item answered at least once, 1 when any item got\n"
    "no answer, 2 for bad usage, an unknown plan, a store or a history that cannot\n"
    "be read, or an output that cannot be written. With --watch, the status of the\n"
    "last complete run (1 when none completed). A run that cannot be recorded says\n"
    "so on standard error and keeps its exit status. With --path, 0 when the\n"
    "destination answered, 1 when it did not.\n";

// The whole command line: each option with its bounds, what it needs or
// excludes and its help, in one declaration.
class TCommandLine {
public:
    explicit TCommandLine(TCliOptions& options) : FOptions(options), FApp(kDescription, "orvel-cli")
    {
        FApp.formatter(std::make_shared<THelpFormatter>());
        FApp.footer(kExitStatus);
        FApp.set_help_flag();
        FApp.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->disable_flag_override();
        DeclareTargets();
        DeclareOptions();
    }

    void Parse(std::vector<std::string> args)
    {
        SplitEmptyValues(args);
        FLastArg = args.empty() ? std::string() : args.back();
        std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
        FApp.parse(args);
        CollectTargets();
        CollectPath();
        CheckFamilies();
        if (FOptions.History && FOptions.Format == TOutputFormat::OpenMetrics)
            throw EUsageError("--history has no openmetrics format");
    }

    EUsageError ToUsageError(const CLI::ParseError& error) const;

    std::string Help() const { return FApp.help(); }

private:
    TCliOptions& FOptions;
    CLI::App FApp;
    std::map<const CLI::Option*, int8_t> FTargetMethods;

    CLI::Option* Target(CLI::Option* option, const std::string& typeName, int8_t method)
    {
        FTargetMethods[option] = method;
        // One value a word; brackets stay as typed ([::1]:80 is a host).
        option->type_name(typeName)->group(kTargetsGroup)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        option->allow_extra_args(false);
        const std::string name = option->nonpositional() ? option->get_name() : "a target";
        return NotEmpty(option, name + " needs a target")
            ->check(CLI::Validator(
                [method, name](const std::string& text) { return text.empty() ? std::string() : TargetFault(method, name, text); },
                ""));
    }

    void DeclareTargets()
    {
        FTargets = {
            Target(FApp.add_option("target", "a host or IP address to Ping")
                       // Never full, so that every bare word is one more target.
                       ->expected(CLI::detail::expected_max_vector_size, CLI::detail::expected_max_vector_size),
                   "TARGET", dtPing),
            Target(FApp.add_option("--ping", "Ping (ICMP or ICMPv6 echo)"), "HOST", dtPing),
            Target(FApp.add_option("--http",
                                   "fetch a home page: a host, host:port, [IPv6]:port, or a URL beginning with "
                                   "http:// or https://"),
                   "TARGET", dtHomePage),
            Target(FApp.add_option("--dns", "ask the DNS server at SERVER (port 53), SERVER:PORT or [IPv6]:PORT for "
                                            "the A record of --dns-name's name"),
                   "SERVER", dtDNSQuery),
            Target(FApp.add_option("--tcp", "time a TCP connection to host:port or [IPv6]:port"), "HOST:PORT",
                   dtTCPConnect)};
    }

    void DeclareOptions()
    {
        TRunSettings& run = FOptions.Run;
        CLI::Option* count =
            Bounded(FApp.add_option("-c,--count", run.Count, "tries per item")->type_name("N")->capture_default_str(),
                    1, 1000);
        CLI::Option* interval = Bounded(
            FApp.add_option_function<int64_t>(
                    "-i,--interval", [&run](int64_t ms) { run.Interval = std::chrono::milliseconds(ms); },
                    "pause between an item's tries, in milliseconds; none after its last try")
                ->type_name("MS")
                ->default_str(std::to_string(run.Interval.count())),
            0, 3600000);
        CLI::Option* timeout = Bounded(
            FApp.add_option_function<int64_t>(
                    "-t,--timeout",
                    [&run](int64_t ms) {
                        run.Timeout = std::chrono::milliseconds(ms);
                        run.HomePageTimeout = run.Timeout;
                    },
                    "how long one try may take, in milliseconds; once given it limits home-page fetches too, "
                    "which otherwise may take up to 60 s")
                ->type_name("MS")
                ->default_str(std::to_string(run.Timeout.count())),
            1, 60000);
        CLI::Option* workers = Bounded(
            FApp.add_option("--workers", run.Workers, "items measured at once")->type_name("N")->capture_default_str(),
            1, TRunSettings::kMostWorkers);
        CLI::Option* dnsName = ReadBy(
            FApp.add_option_function<std::string>(
                    "--dns-name", [&run](const std::string& name) { run.DnsQueryName = ParseDnsName(name); },
                    std::string("the name whose A record DNS items ask their servers for (default ") +
                        DNSQueryHostName + ")")
                ->type_name("NAME"),
            [](const std::string& text) { ParseDnsName(text); });
        CLI::Option* fail = FApp.add_flag("--fail", run.FailOnHttpError,
                                          "count a home page's HTTP status of 400 or more as a failed try (cause "
                                          "http_status), as curl --fail does; without it any answer is one");
        CLI::Option* format = FormatName(
            FApp.add_option("--format", FOptions.Format, "table (default), csv, json or openmetrics")->type_name("FMT"));
        CLI::Option* watch = Seconds(
            FApp.add_option_function<int64_t>(
                    "--watch", [this](int64_t ms) { FOptions.Watch = std::chrono::milliseconds(ms); },
                    "run again and again, one run starting every SECONDS (or right after a longer one), printing "
                    "each run; JSON is one object per line. SIGINT or SIGTERM ends it")
                ->type_name("SECONDS"),
            86400);
        ReadBy(FApp.add_option_function<std::string>(
                       "--listen", [this](const std::string& text) { FOptions.Listen = ParseListen(text); },
                       "serve the latest run at http://ADDR:PORT/metrics (OpenMetrics, or Prometheus text 0.0.4 for "
                       "clients that do not ask for OpenMetrics); ADDR is an IP address ([...] for IPv6) or "
                       "localhost, 127.0.0.1 when only :PORT is given; PORT 0 takes a free one")
                   ->type_name("ADDR:PORT")
                   ->needs(watch),
               ParseListen);
        CLI::Option* dir = Excludes(
            NotEmpty(FApp.add_option("--dir", FOptions.Dir,
                                     "folder of Projects.dat and DestLists.ini (default: beside the program; for an "
                                     "installed copy $XDG_DATA_HOME/orvel or ~/.local/share/orvel)")
                         ->type_name("DIR"),
                     "--dir needs a folder"),
            FTargets);
        CLI::Option* plan = Excludes(
            FApp.add_option_function<std::string>(
                    "--plan", [this](const std::string& name) { FOptions.Plan = name; },
                    "the plan to run (default: the plan named in DestLists.ini)")
                ->type_name("NAME"),
            FTargets);
        CLI::Option* noRecord = FApp.add_flag("--no-record", FOptions.NoRecord, "do not record the run in History.db");
        FCount = count;
        FInterval = interval;
        FTimeout = timeout;
        const std::vector<CLI::Option*> habits = DeclareHabits(format, watch);
        std::vector<CLI::Option*> notOnPath{workers, dnsName, fail, watch, noRecord, dir, plan, FVerbose, FAlive,
                                            FUnreach};
        DeclarePath(notOnPath);
        std::vector<CLI::Option*> runOnly{count, interval, timeout, workers, dnsName, fail, watch, noRecord};
        runOnly.insert(runOnly.end(), habits.begin(), habits.end());
        CLI::Option* history = Excludes(Excludes(FApp.add_flag("--history", FOptions.History,
                                                               "print the recorded runs, oldest first (of every "
                                                               "plan, or of the one --plan names)"),
                                                 FTargets),
                                        runOnly)
                                   ->excludes(FPath);
        ReadBy(FApp.add_option_function<std::string>(
                       "--since", [this](const std::string& text) { FOptions.Since = ParseDate(text); },
                       "runs started then or later; DATE is YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], in local time "
                       "unless it ends in Z or an offset such as +08:00")
                   ->type_name("DATE")
                   ->needs(history),
               [](const std::string& text) { ParseDate(text); });
        Excludes(Excludes(FApp.add_flag("--list", FOptions.List, "list the saved plans and exit"), FTargets), runOnly)
            ->excludes(FPath)
            ->excludes(plan)
            ->excludes(format)
            ->excludes(history);
        (void)dir;
        FApp.set_help_flag("-h,--help", "show this help");
        FApp.add_flag("--version", FOptions.Version, "show the version");
    }

    // As ping and fping: -q, -v, -a, -u, -4, -6; returns them all.
    std::vector<CLI::Option*> DeclareHabits(CLI::Option* format, CLI::Option* watch)
    {
        FQuiet = FApp.add_flag("-q,--quiet", FOptions.Quiet, "no progress line, only the results");
        FVerbose = FApp.add_flag("-v,--verbose", FOptions.Verbose,
                                 "print each try on standard error as it ends, one line each: the target, the "
                                 "try's number and its time or why it failed")
                       ->excludes(FQuiet);
        using TList = TCliOptions::TTargetList;
        FAlive = FApp.add_flag_callback(
                        "-a,--alive", [this] { FOptions.TargetList = TList::Answered; },
                        "instead of the results, print the targets that answered, one a line")
                     ->excludes(format)
                     ->excludes(watch);
        FUnreach = FApp.add_flag_callback(
                           "-u,--unreach", [this] { FOptions.TargetList = TList::Silent; },
                           "instead of the results, print the targets that never answered, one a line")
                       ->excludes(format)
                       ->excludes(watch)
                       ->excludes(FAlive);
        FIpv4 = FApp.add_flag_callback(
            "-4,--ipv4", [this] { FOptions.Run.Family = AF_INET; }, "resolve names to IPv4 addresses only");
        FIpv6 = FApp.add_flag_callback(
                        "-6,--ipv6", [this] { FOptions.Run.Family = AF_INET6; },
                        "resolve names to IPv6 addresses only")
                    ->excludes(FIpv4);
        return {FQuiet, FVerbose, FAlive, FUnreach, FIpv4, FIpv6};
    }

    // A literal address of the other family than -4 or -6 ask for has
    // nothing to measure.
    void CheckFamilies() const
    {
        const int family = FOptions.Run.Family;
        if (family == AF_UNSPEC)
            return;
        std::vector<std::pair<std::string, std::string>> hosts;  // as measured, as typed
        // A home page's name is the HTTP client's to resolve.
        for (const TCliTarget& target : FOptions.Targets)
            if (target.Method != dtHomePage)
                hosts.emplace_back(MeasuredHost(target.Method, target.Text).value_or(""), target.Text);
        if (FOptions.Path) {
            const std::string& host = FOptions.Path->Host;
            const bool bracketed = IsTargetLiteral(host, TBrackets::Allowed) && !IsTargetLiteral(host);
            hosts.emplace_back(bracketed ? host.substr(1, host.size() - 2) : host, host);
        }
        for (const auto& [host, text] : hosts) {
            if (!IsTargetLiteral(host))
                continue;
            const bool ipv6 = IsIPv6Literal(host);
            if (ipv6 != (family == AF_INET6))
                throw EUsageError(std::string(family == AF_INET6 ? "-6" : "-4") + " and '" + TerminalText(text) +
                                  "' do not go together: it is an " + (ipv6 ? "IPv6" : "IPv4") + " address");
        }
    }

    // --path and what only it takes; the run's -c, -i and -t have other
    // defaults there.
    void DeclarePath(const std::vector<CLI::Option*>& runOnly)
    {
        FPath = Excludes(Excludes(NotEmpty(FApp.add_option("--path", FPathHost,
                                                           "show the path to HOST hop by hop instead of a run: each "
                                                           "round sends an ICMP echo request with every hop limit "
                                                           "up to --max-hops; -c rounds (default 10), -i "
                                                           "milliseconds from one round to the next (1000), -t "
                                                           "milliseconds an answer is awaited (2000)")
                                               ->type_name("HOST"),
                                           "--path needs a host"),
                                  FTargets),
                         runOnly);
        FMaxHops = Bounded(FApp.add_option("--max-hops", FPathSettings.MaxHops, "--path: the most hops tried")
                               ->type_name("N")
                               ->capture_default_str(),
                           1, 255)
                       ->needs(FPath);
        FNames = FApp.add_flag("--names", FPathSettings.Names, "--path: the hops' reverse names instead of addresses")
                     ->needs(FPath);
    }

    void CollectPath()
    {
        if (FPath->count() == 0)
            return;
        if (FOptions.Format == TOutputFormat::OpenMetrics)
            throw EUsageError("--path has no openmetrics format");
        TPathOptions path = FPathSettings;
        path.Host = FPathHost;
        path.Quiet = FOptions.Quiet;
        path.Family = FOptions.Run.Family;
        const TRunSettings& run = FOptions.Run;
        if (FCount->count())
            path.Rounds = run.Count;
        if (FInterval->count())
            path.Interval = run.Interval;
        if (FTimeout->count())
            path.Timeout = run.Timeout;
        FOptions.Path = path;
    }

    // CLI11 reads "--plan=" as "--plan" wanting the next word; as typed it
    // is an empty value.
    void SplitEmptyValues(std::vector<std::string>& args) const
    {
        for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
            const std::string& arg = args[i];
            if (arg.size() < 4 || arg.rfind("--", 0) != 0 || arg.back() != '=')
                continue;
            const std::string name = arg.substr(0, arg.size() - 1);
            const CLI::Option* option = FApp.get_option_no_throw(name);
            if (option && option->get_type_size() > 0) {
                args[i] = name;
                args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, "");
                ++i;
            }
        }
    }

    // Every target option keeps its own words; the order typed across them
    // is in the order CLI11 met them.
    void CollectTargets()
    {
        std::map<const CLI::Option*, size_t> taken;
        for (const CLI::Option* option : FApp.parse_order()) {
            const auto method = FTargetMethods.find(option);
            if (method != FTargetMethods.end())
                FOptions.Targets.push_back({method->second, option->results().at(taken[option]++)});
        }
    }

    std::vector<CLI::Option*> FTargets;
    std::string FLastArg;
    CLI::Option* FCount = nullptr;
    CLI::Option* FInterval = nullptr;
    CLI::Option* FTimeout = nullptr;
    CLI::Option* FPath = nullptr;
    CLI::Option* FMaxHops = nullptr;
    CLI::Option* FNames = nullptr;
    CLI::Option* FQuiet = nullptr;
    CLI::Option* FVerbose = nullptr;
    CLI::Option* FAlive = nullptr;
    CLI::Option* FUnreach = nullptr;
    CLI::Option* FIpv4 = nullptr;
    CLI::Option* FIpv6 = nullptr;
    std::string FPathHost;
    TPathOptions FPathSettings;

    // How a line names an option: the positional is any bare word.
    std::string Spoken(const std::string& name) const
    {
        return name.rfind('-', 0) == 0 ? name : "a target";
    }

    // Where the option was first typed; one not typed goes last.
    size_t FirstTyped(const std::string& name) const
    {
        const std::vector<CLI::Option*>& order = FApp.parse_order();
        for (size_t i = 0; i < order.size(); ++i)
            if (order[i]->get_name() == name)
                return i;
        return order.size();
    }

    CLI::Option* Excludes(CLI::Option* option, const std::vector<CLI::Option*>& others)
    {
        for (CLI::Option* other : others)
            option->excludes(other);
        return option;
    }
};

}  // namespace

namespace {

// The text on either side of separator in "A separator B".
std::pair<std::string, std::string> Halves(const std::string& text, const std::string& separator)
{
    const size_t at = text.find(separator);
    if (at == std::string::npos)
        return {text, ""};
    return {text.substr(0, at), text.substr(at + separator.size())};
}

}  // namespace

EUsageError TCommandLine::ToUsageError(const CLI::ParseError& error) const
{
    const std::string text = error.what();
    if (dynamic_cast<const CLI::ValidationError*>(&error))
        return EUsageError(Halves(text, ": ").second);
    if (dynamic_cast<const CLI::RequiresError*>(&error)) {
        const auto [option, needed] = Halves(text, " requires ");
        return EUsageError(option + " goes with " + needed);
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
        auto [one, other] = Halves(text, " excludes ");
        if (FirstTyped(other) < FirstTyped(one))
            std::swap(one, other);
        return EUsageError(Spoken(one) + " and " + Spoken(other) + " do not go together");
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        for (const std::string& unknown : FApp.remaining())
            if (unknown != "--")  // kept among them, though no error
                return EUsageError("unknown argument '" + unknown + "'");
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        if (const std::string option = Halves(text, " was given a disallowed flag override").first; option != text)
            return EUsageError((option.rfind('-', 0) == 0 ? option : "--" + option) + " takes no value");
        // Only the last word can lack its value: what came before it was taken.
        const std::string typed = FLastArg.rfind('-', 0) == 0 ? FLastArg : Halves(text, ":").first;
        return EUsageError(typed + " needs a value");
    }
    return EUsageError(Halves(text, "\n").first);
}

TCliOptions ParseCliOptions(const std::vector<std::string>& args)
{
    TCliOptions options;
    TCommandLine line(options);
    try {
        line.Parse(args);
    } catch (const CLI::CallForHelp&) {
        options.Help = true;
    } catch (const CLI::ParseError& error) {
        throw line.ToUsageError(error);
    }
    return options;
}

std::string TargetFault(int8_t method, const std::string& name, const std::string& text)
{
    if (text.empty())
        return name + " needs a target";
    switch (method) {
    case dtHomePage: return HomePageLine(name, text);
    case dtDNSQuery: return HostAndPortLine(method, name, text, "SERVER, SERVER:PORT or [IPV6]:PORT");
    case dtTCPConnect: return HostAndPortLine(method, name, text, "HOST:PORT or [IPV6]:PORT");
    default: return PingHostLine(name, text);
    }
}

std::string CliUsage()
{
    TCliOptions options;
    return TCommandLine(options).Help();
}
