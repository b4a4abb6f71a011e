#include "cli/Clioptions.h"

#include <arpa/inet.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

TOutputFormat ParseFormat(const std::string& name)
{
    if (name == "table") return TOutputFormat::Table;
    if (name == "csv") return TOutputFormat::Csv;
    if (name == "json") return TOutputFormat::Json;
    if (name == "openmetrics") return TOutputFormat::OpenMetrics;
    throw EUsageError("unknown format '" + name + "' (use table, csv, json or openmetrics)");
}

// Accepts both "--opt value" and "--opt=value".
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& option, std::string& value)
{
    const std::string& arg = args[i];
    if (arg == option) {
        if (i + 1 >= args.size())
            throw EUsageError(option + " needs a value");
        value = args[++i];
        return true;
    }
    if (arg.rfind(option + "=", 0) == 0) {
        value = arg.substr(option.size() + 1);
        return true;
    }
    return false;
}

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

// Accepts "-c 3" and "-c3" as well as the long forms.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& option, const char* shortOption,
               std::string& value)
{
    if (TakeValue(args, i, option, value))
        return true;
    const std::string& arg = args[i];
    if (arg.rfind(shortOption, 0) != 0)
        return false;
    if (arg.size() > 2) {
        value = arg.substr(2);
        return true;
    }
    if (i + 1 >= args.size())
        throw EUsageError(std::string(shortOption) + " needs a value");
    value = args[++i];
    return true;
}

int64_t ParseWhole(const std::string& option, const std::string& text, int64_t low, int64_t high)
{
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error == std::errc::invalid_argument || rest != end)
        throw EUsageError(option + " takes a whole number, not '" + text + "'");
    if (error == std::errc::result_out_of_range || value < low || value > high)
        throw EUsageError(option + " must be from " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
                          text);
    return value;
}

// Seconds with an optional fraction, to the millisecond.
std::chrono::milliseconds ParseSeconds(const std::string& option, const std::string& text)
{
    static constexpr double kLongest = 86400;
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, seconds, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || rest != end)
        throw EUsageError(option + " takes seconds such as 10 or 0.5, not '" + text + "'");
    const auto period = std::chrono::milliseconds(std::llround(seconds * 1000));
    if (!(seconds <= kLongest) || period < std::chrono::milliseconds(1))
        throw EUsageError(option + " must be from 0.001 to 86400 seconds, not " + text);
    return period;
}

bool IsAddress(int family, const std::string& text)
{
    unsigned char bytes[sizeof(in6_addr)];
    return inet_pton(family, text.c_str(), bytes) == 1;
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
        if (!IsAddress(AF_INET6, listen.Host))
            throw EUsageError("--listen: '" + listen.Host + "' is no IPv6 address");
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        const std::string host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host == "localhost")
            listen.Host = "127.0.0.1";
        else if (!host.empty())
            listen.Host = host;
        if (!IsAddress(AF_INET, listen.Host))
            throw EUsageError("--listen takes an IP address or localhost, not '" + host +
                              "' (write an IPv6 address in brackets)");
    }
    listen.Port = static_cast<uint16_t>(ParseWhole("--listen's port", port, 0, 65535));
    return listen;
}

void AddTarget(TCliOptions& options, int8_t method, const std::string& option, const std::string& text)
{
    if (text.empty())
        throw EUsageError(option + " needs a target");
    options.Targets.push_back({method, text});
}

// Options that only make sense together, or not at all.
void CheckCombinations(const TCliOptions& options, bool formatGiven, bool runOptionGiven)
{
    const bool targets = !options.Targets.empty();
    if (options.List && (options.Plan || formatGiven))
        throw EUsageError("--list takes no --plan or --format");
    if (options.List && options.History)
        throw EUsageError("--list and --history do not go together");
    if (options.Since && !options.History)
        throw EUsageError("--since goes with --history");
    if (options.NoRecord && (options.History || options.List))
        throw EUsageError("--no-record goes with a run only");
    if (targets && (options.Plan || !options.Dir.empty() || options.List || options.History))
        throw EUsageError("targets on the command line take no --plan, --dir, --list or --history");
    if ((runOptionGiven || options.Watch) && (options.List || options.History))
        throw EUsageError("-c, -i, -t, --workers and --watch go with a run only");
    if (options.History && options.Format == TOutputFormat::OpenMetrics)
        throw EUsageError("--history has no openmetrics format");
    if (options.Listen && !options.Watch)
        throw EUsageError("--listen goes with --watch");
}

}  // namespace

TCliOptions ParseCliOptions(const std::vector<std::string>& args)
{
    TCliOptions options;
    bool formatGiven = false;
    bool runOptionGiven = false;
    bool onlyTargets = false;  // after "--"
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (onlyTargets || arg.empty() || arg[0] != '-') {
            AddTarget(options, dtPing, "a target", arg);
        } else if (arg == "--") {
            onlyTargets = true;
        } else if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--version") {
            options.Version = true;
        } else if (arg == "--list") {
            options.List = true;
        } else if (arg == "--history") {
            options.History = true;
        } else if (arg == "--no-record") {
            options.NoRecord = true;
        } else if (TakeValue(args, i, "--ping", value)) {
            AddTarget(options, dtPing, "--ping", value);
        } else if (TakeValue(args, i, "--http", value)) {
            AddTarget(options, dtHomePage, "--http", value);
        } else if (TakeValue(args, i, "--dns", value)) {
            AddTarget(options, dtDNSQuery, "--dns", value);
        } else if (TakeValue(args, i, "--count", "-c", value)) {
            options.Run.Count = static_cast<int32_t>(ParseWhole("--count", value, 1, 1000));
            runOptionGiven = true;
        } else if (TakeValue(args, i, "--interval", "-i", value)) {
            options.Run.Interval = std::chrono::milliseconds(ParseWhole("--interval", value, 0, 3600000));
            runOptionGiven = true;
        } else if (TakeValue(args, i, "--timeout", "-t", value)) {
            options.Run.Timeout = std::chrono::milliseconds(ParseWhole("--timeout", value, 1, 60000));
            options.Run.HomePageTimeout = options.Run.Timeout;
            runOptionGiven = true;
        } else if (TakeValue(args, i, "--workers", value)) {
            options.Run.Workers = static_cast<int>(ParseWhole("--workers", value, 1, 256));
            runOptionGiven = true;
        } else if (TakeValue(args, i, "--watch", value)) {
            options.Watch = ParseSeconds("--watch", value);
        } else if (TakeValue(args, i, "--listen", value)) {
            options.Listen = ParseListen(value);
        } else if (TakeValue(args, i, "--since", value)) {
            options.Since = ParseDate(value);
        } else if (TakeValue(args, i, "--dir", value)) {
            if (value.empty())
                throw EUsageError("--dir needs a folder");
            options.Dir = value;
        } else if (TakeValue(args, i, "--plan", value)) {
            options.Plan = value;
        } else if (TakeValue(args, i, "--format", value)) {
            options.Format = ParseFormat(value);
            formatGiven = true;
        } else {
            throw EUsageError("unknown argument '" + arg + "'");
        }
    }
    CheckCombinations(options, formatGiven, runOptionGiven);
    return options;
}

std::string CliUsage()
{
    return "Usage: orvel-cli [OPTIONS] TARGET... [--ping HOST]... [--http HOST_OR_URL]... [--dns SERVER]...\n"
           "       orvel-cli [OPTIONS] [--dir DIR] [--plan NAME] [--no-record]\n"
           "       orvel-cli --history [--dir DIR] [--plan NAME] [--since DATE] [--format FMT]\n"
           "       orvel-cli --list [--dir DIR]\n"
           "\n"
           "Measures the targets given, or a saved test plan, and prints each item's\n"
           "average time and failure ratio, and the overall average. Each completed run\n"
           "of a plan is recorded in History.db in the same folder as the plans.\n"
           "\n"
           "Targets (no store is read and nothing recorded; each is named as typed):\n"
           "  TARGET          a host or IP address to Ping\n"
           "  --ping HOST     Ping (ICMP or ICMPv6 echo)\n"
           "  --http TARGET   fetch a home page: a host, host:port, [IPv6]:port, or a\n"
           "                  URL beginning with http:// or https://\n"
           "  --dns SERVER    ask the DNS server at SERVER (port 53) for a name\n"
           "\n"
           "Options:\n"
           "  -c, --count N       tries per item (default 5; 1 to 1000)\n"
           "  -i, --interval MS   pause between an item's tries, in milliseconds\n"
           "                      (default 100; 0 to 3600000)\n"
           "  -t, --timeout MS    how long one try may take, in milliseconds (default\n"
           "                      5000; 1 to 60000); once given it limits home-page\n"
           "                      fetches too, which otherwise may take up to 60 s\n"
           "  --workers N         items measured at once (default 20; 1 to 256)\n"
           "  --format FMT        table (default), csv, json or openmetrics\n"
           "  --watch SECONDS     run again and again, one run starting every SECONDS\n"
           "                      (or right after a longer one), printing each run; JSON\n"
           "                      is one object per line. SIGINT or SIGTERM ends it\n"
           "  --listen ADDR:PORT  with --watch: serve the latest run at\n"
           "                      http://ADDR:PORT/metrics (OpenMetrics, or Prometheus\n"
           "                      text 0.0.4 for clients that do not ask for OpenMetrics);\n"
           "                      ADDR is an IP address ([...] for IPv6) or localhost,\n"
           "                      127.0.0.1 when only :PORT is given; PORT 0 takes a free one\n"
           "  --dir DIR           folder of Projects.dat and DestLists.ini (default: beside\n"
           "                      the program; for an installed copy $XDG_DATA_HOME/orvel\n"
           "                      or ~/.local/share/orvel)\n"
           "  --plan NAME         the plan to run (default: the plan named in DestLists.ini)\n"
           "  --no-record         do not record the run in History.db\n"
           "  --history           print the recorded runs, oldest first (of every plan, or\n"
           "                      of the one --plan names)\n"
           "  --since DATE        with --history: runs started then or later; DATE is\n"
           "                      YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], in local time unless\n"
           "                      it ends in Z or an offset such as +08:00\n"
           "  --list              list the saved plans and exit\n"
           "  -h, --help          show this help\n"
           "  --version           show the version\n"
           "\n"
           "Exit status: 0 when every item answered at least once, 1 when any item got\n"
           "no answer, 2 for bad usage, an unknown plan, a store or a history that cannot\n"
           "be read, or an output that cannot be written. With --watch, the status of the\n"
           "last complete run (1 when none completed). A run that cannot be recorded says\n"
           "so on standard error and keeps its exit status.\n";
}
