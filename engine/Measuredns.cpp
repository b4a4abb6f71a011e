#include "engine/Measuredns.h"

// TODO: the DNS method is not written yet; every try fails.
bool MeasureDNSQuery(TIdDNSResolver&, const std::string&, int32_t, uint32_t&)
{
    return false;
}
