#pragma once
// orvel-cli --path: the path to a host hop by hop, printed as a table, CSV
// or JSON once the rounds are done (or the trace is stopped).

#include "cli/Clioptions.h"
#include "cli/Output.h"
#include "engine/Pathtrace.h"

#include <functional>
#include <map>
#include <string>

class TRunStop;

// The reverse names of a report's addresses, by address text; an address
// without a name is not in it.
using TPathNames = std::map<std::string, std::string>;
using TReverseLookup = std::function<std::optional<std::string>(const sockaddr_storage& address)>;
TPathNames ReverseNames(const TPathReport& report, const TReverseLookup& lookup);
// The system's reverse lookup (getnameinfo).
std::optional<std::string> SystemReverseName(const sockaddr_storage& address);

// target: as typed; address: what was traced.
std::string FormatPathTable(const TPathReport& report, const std::string& target, const std::string& address,
                            const TPathNames& names);
std::string FormatPathCsv(const TPathReport& report, const TPathNames& names);
std::string FormatPathJson(const TPathReport& report, const std::string& target, const std::string& address,
                           int maxHops, const TPathNames& names);

// Resolves the host, traces it and prints the report; stop cuts it short
// (what was measured is printed). 0 when the destination answered, else 1;
// throws EUsageError for a host that has no address.
int RunPath(const TPathOptions& path, TOutputFormat format, TOutput& output, TRunStop& stop);
