#pragma once
// One home-page try: the page HomePageURL names, fetched to the last byte of
// the body.

#include <atomic>
#include <cstdint>
#include <string>

// A target typed with "http://" or "https://" (in any letter case) as it is;
// any other text after "http://".
std::string HomePageURL(const std::string& target);

// True with the elapsed milliseconds in ms; ms untouched on failure. A fetch
// in progress ends, as a failure, soon after abort turns true.
bool MeasureHomePage(const std::string& target, uint32_t& ms, const std::atomic<bool>* abort = nullptr);
