#pragma once
// Loopback traffic of tests and benchmarks must not go through a proxy that
// the machine's environment names (libcurl honours these variables, and
// child processes inherit them).

#include <cstdlib>

inline void ClearProxyEnvironment()
{
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
        unsetenv(name);
}
