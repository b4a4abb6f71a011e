#include "tests/support/Failingalloc.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool tFailing = false;

void* Allocate(std::size_t size)
{
    if (tFailing)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

}  // namespace

void FailAllocationsOnThisThread() { tFailing = true; }

void FailNoAllocations() { tFailing = false; }

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
