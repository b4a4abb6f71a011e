#include "engine/Netnamespace.h"

#include <sys/stat.h>

uint64_t CurrentNetNamespace()
{
    struct stat link {};
    if (stat("/proc/thread-self/ns/net", &link) != 0)
        return 0;
    return static_cast<uint64_t>(link.st_ino);
}
