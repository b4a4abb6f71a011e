#include "engine/Tryoutcome.h"

#include "engine/Shortage.h"

#include <cerrno>

TTryCause CauseOfError(int error)
{
    switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
        return TTryCause::Refused;
    case ETIMEDOUT:
        return TTryCause::Timeout;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case EADDRNOTAVAIL:
    case EPERM:   // a packet filter of this host refused to send it
    case EACCES:
        return TTryCause::Unreachable;
    default:
        return IsShortageError(error) ? TTryCause::Shortage : TTryCause::Other;
    }
}

TTryCause CauseAtDeadline(const std::atomic<bool>* abort)
{
    return abort && abort->load() ? TTryCause::Aborted : TTryCause::Timeout;
}
