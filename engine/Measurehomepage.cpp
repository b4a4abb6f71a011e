#include "engine/Measurehomepage.h"

#include "engine/Homepagefetches.h"
#include "engine/Shortage.h"
#include "vqlib/Vqhttp.h"
#include "vqlib/Vqtick.h"

#include <strings.h>

#include <algorithm>
#include <utility>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return strncasecmp(text.c_str(), prefix, std::char_traits<char>::length(prefix)) == 0;
}

// No limit: the HTTP client's own; a limit caps each of them.
vqlib::THttpLimits HomePageLimits(vqlib::THttpLimits limits, std::optional<std::chrono::milliseconds> limit)
{
    if (limit) {
        limits.Connect = std::min(limits.Connect, *limit);
        limits.Stall = std::min(limits.Stall, *limit);
        limits.Overall = *limit;
    }
    return limits;
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
    http.SetLimits(HomePageLimits(http.Limits(), limit));
    const TStopwatch watch;
    if (!http.GetURL(HomePageURL(target))) {
        if (shortage && IsShortageError(http.SystemError()))
            *shortage = http.SystemError();
        return false;
    }
    elapsed = watch.Elapsed();
    return true;
}

void StartHomePage(const std::string& target, std::optional<std::chrono::milliseconds> limit,
                   const std::atomic<bool>* abort, THomePageDone done, const std::string& userAgent)
{
    HomePageFetches().Start(
        HomePageURL(target), HomePageLimits(vqlib::THttp::DefaultLimits(), limit), abort,
        [done = std::move(done)](bool ok, std::chrono::microseconds elapsed, int error) {
            done(ok, elapsed, !ok && IsShortageError(error) ? error : 0);
        },
        userAgent);
}
