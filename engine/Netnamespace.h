#pragma once
// Which network namespace the calling thread is in. A socket belongs to the
// namespace of the thread that opened it, and a thread starts in its
// creator's: whatever opens sockets for a caller runs per namespace.

#include <cstdint>

// The namespace's inode number; 0 when it cannot be told (no /proc).
uint64_t CurrentNetNamespace();
