#pragma once
// Progress on a terminal: finished of total on one line, rewritten in place
// at most every so often, so that a run of thousands of items costs a
// handful of writes rather than one each.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

class TProgressLine {
public:
    using TWrite = std::function<void(const std::string& text)>;
    using TNow = std::function<std::chrono::steady_clock::time_point()>;
    // A person reads a few figures a second; more only costs the terminal.
    static constexpr std::chrono::milliseconds kEvery{100};

    explicit TProgressLine(TWrite write, TNow now = std::chrono::steady_clock::now,
                           std::chrono::milliseconds every = kEvery);

    // The first report is shown at once, the ones after it once every so
    // often at most; the last clears the line for what is printed next.
    void Show(int finished, int total);

private:
    TWrite FWrite;
    TNow FNow;
    std::chrono::milliseconds FEvery;
    std::optional<std::chrono::steady_clock::time_point> FShown;
};
