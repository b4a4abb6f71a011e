#include "cli/Clioptions.h"

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

}  // namespace

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
    return options;
}

std::string CliUsage()
{
    return "Usage: orvel-cli [--dir DIR] [--plan NAME] [--format table|csv|json]\n"
           "       orvel-cli --list [--dir DIR]\n"
           "\n"
           "Runs a saved test plan (5 tries per item, up to 20 items at once) and prints\n"
           "each item's average time and failure ratio, and the overall average.\n"
           "\n"
           "  --dir DIR       folder of Projects.dat and DestLists.ini (default: beside\n"
           "                  the program; for an installed copy $XDG_DATA_HOME/orvel\n"
           "                  or ~/.local/share/orvel)\n"
           "  --plan NAME     the plan to run (default: the plan named in DestLists.ini)\n"
           "  --format FMT    table (default), csv or json\n"
           "  --list          list the saved plans and exit\n"
           "  --help          show this help\n"
           "  --version       show the version\n"
           "\n"
           "Exit status: 0 when at least one item answered, 1 when none did, 2 for bad\n"
           "usage, an unknown plan or a store that cannot be read.\n";
}
