#pragma once
// What orvel-cli prints as ping and fping users expect: a line for each try
// as it ends (-v), and the lists of the targets that answered or did not
// (-a, -u).

#include "cli/Clireport.h"
#include "engine/Dnsdispinfo.h"
#include "engine/Tryoutcome.h"

#include <string>

// "TARGET : [N], 0.052 ms" or "TARGET : [N], timeout", with a line break;
// N counts from 1, as the try columns of CSV and JSON do.
std::string TryLine(const TDNSDispInfo& item, int index, const TTryOutcome& outcome);

// The targets of the items that answered at least once (answered) or never
// did, one a line, in the order of the run.
std::string TargetList(const TRunReport& report, bool answered);
