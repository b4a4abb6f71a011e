#include "engine/Measurehomepage.h"

#include "vqlib/Vqhttp.h"
#include "vqlib/Vqtick.h"

bool MeasureHomePage(const std::string& target, std::chrono::microseconds& elapsed, const std::atomic<bool>* abort)
{
    vqlib::THttp http;  // buffer and handle before the clock starts
    http.SetAbortFlag(abort);
    const TStopwatch watch;
    if (!http.GetURL("http://" + target))
        return false;
    elapsed = watch.Elapsed();
    return true;
}
