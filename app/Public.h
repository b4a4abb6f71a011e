#pragma once
// Declarations shared by the window program's units.

#include "engine/Dnsdispinfo.h"

#include <vector>

using TDNSDispInfos = std::vector<TDNSDispInfo>;

inline constexpr const char* kAppTitle = "Orvel网络测速器";
