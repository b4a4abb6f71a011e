#include "engine/Measuredns.h"

#include "engine/Shortage.h"
#include "net/IdDNSResolver.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "vqlib/Vqtick.h"

bool MeasureDNSQuery(TIdDNSResolver& resolver, const std::string& target, int32_t timeout,
                     std::chrono::microseconds& elapsed, const std::atomic<bool>* abort, int* shortage)
{
    if (shortage)
        *shortage = 0;
    if (abort && abort->load())
        return false;
    try {
        resolver.SetAbortFlag(abort);
        resolver.SetHost(target);
        resolver.SetReceiveTimeout(timeout);
        resolver.ResetResult();
        resolver.DNSHeader.Flags = 0x0100;  // standard query, recursion desired
        resolver.DNSHeader.QDCount = 1;
        resolver.Questions.clear();
        resolver.Questions.push_back({DNSQueryHostName, DnsTypeA, DnsClassIN});
        const TStopwatch watch;
        resolver.RunQuery();
        elapsed = watch.Elapsed();
        return true;
    } catch (const EIdInvalidSocket& failure) {
        if (shortage && IsShortageError(failure.SystemError()))
            *shortage = failure.SystemError();
        return false;
    } catch (const EIdSocketError& failure) {
        if (shortage && failure.Code() == TIdStack::ErrorFromErrno(ENOBUFS))
            *shortage = ENOBUFS;
        return false;
    } catch (...) {
        return false;
    }
}
