#include "engine/Measurehomepage.h"

#include "engine/Shortage.h"
#include "vqlib/Vqhttp.h"
#include "vqlib/Vqtick.h"

#include <strings.h>

#include <algorithm>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return strncasecmp(text.c_str(), prefix, std::char_traits<char>::length(prefix)) == 0;
}

}  // namespace

std::string HomePageURL(const std::string& target)
{
    if (StartsWithNoCase(target, "http://") || StartsWithNoCase(target, "https://"))
        return target;
    return "http://" + target;
}

bool MeasureHomePage(const std::string& target, std::chrono::microseconds& elapsed, const std::atomic<bool>* abort,
                     std::optional<std::chrono::milliseconds> limit, int* shortage)
{
    if (shortage)
        *shortage = 0;
    vqlib::THttp http;  // buffer and handle before the clock starts
    http.SetAbortFlag(abort);
    if (limit) {
        vqlib::THttpLimits limits = http.Limits();
        limits.Connect = std::min(limits.Connect, *limit);
        limits.Stall = std::min(limits.Stall, *limit);
        limits.Overall = *limit;
        http.SetLimits(limits);
    }
    const TStopwatch watch;
    if (!http.GetURL(HomePageURL(target))) {
        if (shortage && IsShortageError(http.SystemError()))
            *shortage = http.SystemError();
        return false;
    }
    elapsed = watch.Elapsed();
    return true;
}
