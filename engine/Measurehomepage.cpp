#include "engine/Measurehomepage.h"

#include "vqlib/Vqhttp.h"
#include "vqlib/Vqtick.h"

bool MeasureHomePage(const std::string& target, uint32_t& ms, const std::atomic<bool>* abort)
{
    vqlib::THttp http;  // buffer and handle before the clock starts
    http.SetAbortFlag(abort);
    const uint32_t t0 = GetTickCount();
    if (!http.GetURL("http://" + target))
        return false;
    ms = GetTickCount() - t0;
    return true;
}
