#include "cli/Clioptions.h"

#include <cctype>
#include <cstring>
#include <ctime>

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
