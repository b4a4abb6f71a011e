#pragma once
// The home-page fetches of the calling thread's network namespace: one fetch
// thread per namespace, made from a caller in it, so its sockets are there.

#include "vqlib/Vqhttpfetches.h"

vqlib::THttpFetches& HomePageFetches();

// Makes every fetch thread look at its abort flags now, not within
// THttp::kAbortSlice: for whoever has just set one.
void WakeHomePageFetches();
