#pragma once
// Socket-library start-up and host-name resolution.

#include <functional>
#include <optional>
#include <string>

class TWASTool {
public:
    TWASTool();
    virtual ~TWASTool();
    // True and ip set to the first IPv4 address in dotted form; ip untouched on failure.
    bool ResolveHostIP(const std::string& host, std::string& ip);

    static bool Started();  // the process-wide flag

    // Test seam: replaces the system lookup (nullptr restores it).
    using THostLookup = std::function<std::optional<std::string>(const std::string& host)>;
    static void SetHostLookup(THostLookup lookup);
};
