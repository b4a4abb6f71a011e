#pragma once
// A try that could not get what it needs from the system: a descriptor (the
// process's limit or the system's), socket buffers or memory. Such a try
// fails as an unanswered one does; the run keeps the first such error so that
// the program can say what ran out, once, instead of a list of 没响应.

#include <cerrno>

inline bool IsShortageError(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}
