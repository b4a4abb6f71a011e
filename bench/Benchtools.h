#pragma once
// What the benchmarks share: means, the output of a reference tool, and the
// reference tools' own figures (curl's time_total, ping's average).

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline double Milliseconds(std::chrono::microseconds time)
{
    return std::chrono::duration<double, std::milli>(time).count();
}

inline double Mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double value : values)
        sum += value;
    return values.empty() ? NAN : sum / static_cast<double>(values.size());
}

inline std::string Capture(const std::string& command)
{
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output;
}

// curl's time_total (or another of its timers) in ms of count fetches by one
// curl process, the first (which pays for the process's cold start) left
// out. options go before the addresses (such as "--cacert FILE").
inline std::vector<double> CurlTimes(const std::string& url, int count, const std::string& options = "",
                                     const std::string& timer = "time_total")
{
    std::string command = "curl -s -g --noproxy '*' " + options + " -w '%{" + timer + "}\\n'";
    for (int i = 0; i <= count; ++i)
        command += " -o /dev/null " + url;
    std::vector<double> times;
    const std::string output = Capture(command + " 2>/dev/null");
    size_t line = 0;
    for (size_t end; (end = output.find('\n', line)) != std::string::npos; line = end + 1)
        times.push_back(std::atof(output.c_str() + line) * 1000.0);
    if (!times.empty())
        times.erase(times.begin());
    return times;
}

// The system ping's average over count echoes ("rtt min/avg/max/mdev = a/b/c/d ms").
inline double SystemPingAverage(const std::string& address, int count)
{
    const std::string output =
        Capture("ping -n -q -c " + std::to_string(count) + " -i 0.2 -W 5 " + address + " 2>&1");
    const size_t equals = output.find("= ", output.find("rtt"));
    if (equals == std::string::npos)
        return NAN;
    return std::atof(output.c_str() + output.find('/', equals) + 1);
}
