#pragma once
// Allocation failures at chosen points: a program that links this replaces
// the global operator new, which then fails with std::bad_alloc on a thread
// that has asked for it, and behaves as usual everywhere else.

// From now until the thread ends (or FailNoAllocations), every allocation of
// the calling thread throws std::bad_alloc.
void FailAllocationsOnThisThread();
void FailNoAllocations();
