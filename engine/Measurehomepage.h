#pragma once
// One home-page try: the page HomePageURL names, fetched to the last byte of
// the body.

#include "engine/Tryoutcome.h"
#include "vqlib/Vqhttp.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

// A target typed with "http://" or "https://" (in any letter case) as it is;
// a bare IPv6 address in brackets after "http://"; any other text after
// "http://".
std::string HomePageURL(const std::string& target);

// What keeps a home-page target from being fetched, so that the one who
// typed it can be told before anything is looked up: nothing typed, a scheme
// other than http or https, a web address that does not parse (an unclosed
// bracket, no host), a port of 0 or above 65535, a host of more than 253
// bytes, or an address of more than 2048.
enum class THomePageFault { None, Empty, Scheme, Malformed, BadPort, LongHost, LongUrl };
inline constexpr size_t kLongestHostName = 253;
inline constexpr size_t kLongestHomePageUrl = 2048;
THomePageFault HomePageTargetFault(const std::string& target);

// True with the time of the fetch in elapsed; elapsed untouched on failure. A
// fetch in progress ends, as a failure, soon after abort turns true, or once
// it has taken limit (no limit: the HTTP client's own). *shortage, where
// given, is set to the errno when the try could get no socket or memory
// (engine/Shortage.h), else 0. *outcome, where given, gets the whole try as
// StartHomePage hands it (an error status counts as an answer).
bool MeasureHomePage(const std::string& target, std::chrono::microseconds& elapsed,
                     const std::atomic<bool>* abort = nullptr,
                     std::optional<std::chrono::milliseconds> limit = std::nullopt, int* shortage = nullptr,
                     TTryOutcome* outcome = nullptr);

// The same try among any number in flight, on the fetch thread of the calling
// thread's network namespace: done is called there, exactly once, never
// inside this call (which throws when no thread or memory can be had, and
// then never calls it). The outcome's Elapsed counts only when Ok; its Http
// is there once the fetch was made. userAgent empty: the calling thread's, as
// THttp's. failOnHttpError: a status of 400 or more fails the try (HttpStatus).
using THomePageDone = std::function<void(TTryOutcome outcome)>;
void StartHomePage(const std::string& target, std::optional<std::chrono::milliseconds> limit,
                   const std::atomic<bool>* abort, THomePageDone done, const std::string& userAgent = {},
                   bool failOnHttpError = false, int family = AF_UNSPEC);

// The five phases of a fetch from the client's timers, which sum exactly to
// elapsed, and what the server answered.
THttpTry HttpTryOf(const vqlib::THttpResult& result, std::chrono::microseconds elapsed);

// A fetch that has ended as a try; abort tells an aborted try from a timed-out one.
TTryOutcome HomePageOutcome(const vqlib::THttpResult& result, std::chrono::microseconds elapsed,
                            const std::atomic<bool>* abort, bool failOnHttpError);
