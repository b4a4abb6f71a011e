#include "cli/Clioptions.h"

#include <ctime>
#include <regex>

namespace {

TOutputFormat ParseFormat(const std::string& name)
{
    if (name == "table") return TOutputFormat::Table;
    if (name == "csv") return TOutputFormat::Csv;
    if (name == "json") return TOutputFormat::Json;
    throw EUsageError("unknown format '" + name + "' (use table, csv or json)");
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

int Number(const std::ssub_match& match) { return match.matched ? std::stoi(match.str()) : 0; }

// The fraction's digits as microseconds; finer digits are dropped.
int64_t Micros(const std::ssub_match& fraction)
{
    std::string digits = fraction.matched ? fraction.str() : "";
    digits.resize(6, '0');
    return std::stoll(digits);
}

}  // namespace

std::chrono::system_clock::time_point ParseDate(const std::string& text)
{
    static const std::regex iso(R"((\d{4})-(\d{2})-(\d{2}))"
                                R"((?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:[.,](\d{1,9}))?)?)"
                                R"((Z|([+-])(\d{2})(?::?(\d{2}))?)?)?)");
    std::smatch m;
    const auto bad = [&text] {
        return EUsageError("bad date '" + text + "' (use YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS][Z|+HH:MM])");
    };
    if (!std::regex_match(text, m, iso))
        throw bad();
    std::tm fields{};
    fields.tm_year = Number(m[1]) - 1900;
    fields.tm_mon = Number(m[2]) - 1;
    fields.tm_mday = Number(m[3]);
    fields.tm_hour = Number(m[4]);
    fields.tm_min = Number(m[5]);
    fields.tm_sec = Number(m[6]);
    const int offsetHours = Number(m[10]), offsetMinutes = Number(m[11]);
    if (fields.tm_mon < 0 || fields.tm_mon > 11 || fields.tm_mday < 1 ||
        fields.tm_mday > DaysInMonth(fields.tm_year + 1900, fields.tm_mon + 1) || fields.tm_hour > 23 ||
        fields.tm_min > 59 || fields.tm_sec > 59 || offsetHours > 23 || offsetMinutes > 59)
        throw bad();

    std::time_t seconds;
    if (m[8].matched) {
        seconds = ::timegm(&fields);
        const int offset = (offsetHours * 60 + offsetMinutes) * 60;
        seconds -= m[9] == "-" ? -offset : offset;
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
    return TClock::from_time_t(seconds) + std::chrono::microseconds(Micros(m[7]));
}

TCliOptions ParseCliOptions(const std::vector<std::string>& args)
{
    TCliOptions options;
    bool formatGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--version") {
            options.Version = true;
        } else if (arg == "--list") {
            options.List = true;
        } else if (arg == "--history") {
            options.History = true;
        } else if (arg == "--no-record") {
            options.NoRecord = true;
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
    if (options.List && (options.Plan || formatGiven))
        throw EUsageError("--list takes no --plan or --format");
    if (options.List && options.History)
        throw EUsageError("--list and --history do not go together");
    if (options.Since && !options.History)
        throw EUsageError("--since goes with --history");
    if (options.NoRecord && (options.History || options.List))
        throw EUsageError("--no-record goes with a run only");
    return options;
}

std::string CliUsage()
{
    return "Usage: orvel-cli [--dir DIR] [--plan NAME] [--format table|csv|json] [--no-record]\n"
           "       orvel-cli --history [--dir DIR] [--plan NAME] [--since DATE] [--format FMT]\n"
           "       orvel-cli --list [--dir DIR]\n"
           "\n"
           "Runs a saved test plan (5 tries per item, up to 20 items at once) and prints\n"
           "each item's average time and failure ratio, and the overall average. Each\n"
           "completed run is recorded in History.db in the same folder as the plans.\n"
           "\n"
           "  --dir DIR       folder of Projects.dat and DestLists.ini (default: beside\n"
           "                  the program; for an installed copy $XDG_DATA_HOME/orvel\n"
           "                  or ~/.local/share/orvel)\n"
           "  --plan NAME     the plan to run (default: the plan named in DestLists.ini)\n"
           "  --format FMT    table (default), csv or json\n"
           "  --no-record     do not record the run in History.db\n"
           "  --history       print the recorded runs, oldest first (of every plan, or\n"
           "                  of the one --plan names)\n"
           "  --since DATE    with --history: runs started then or later; DATE is\n"
           "                  YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], in local time unless\n"
           "                  it ends in Z or an offset such as +08:00\n"
           "  --list          list the saved plans and exit\n"
           "  --help          show this help\n"
           "  --version       show the version\n"
           "\n"
           "Exit status: 0 when at least one item answered, 1 when none did, 2 for bad\n"
           "usage, an unknown plan, a store or a history that cannot be read. A run that\n"
           "cannot be recorded says so on standard error and keeps its exit status.\n";
}
