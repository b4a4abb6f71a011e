#pragma once
// One home-page try: the page HomePageURL names, fetched to the last byte of
// the body.

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

// A target typed with "http://" or "https://" (in any letter case) as it is;
// any other text after "http://".
std::string HomePageURL(const std::string& target);

// True with the time of the fetch in elapsed; elapsed untouched on failure. A
// fetch in progress ends, as a failure, soon after abort turns true, or once
// it has taken limit (no limit: the HTTP client's own). *shortage, where
// given, is set to the errno when the try could get no socket or memory
// (engine/Shortage.h), else 0.
bool MeasureHomePage(const std::string& target, std::chrono::microseconds& elapsed,
                     const std::atomic<bool>* abort = nullptr,
                     std::optional<std::chrono::milliseconds> limit = std::nullopt, int* shortage = nullptr);
