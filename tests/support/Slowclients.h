#pragma once
// A crowd of slow clients on loopback: from each of a few source addresses a
// number of connections that never finish a request, either saying nothing
// or sending a request line and then one byte now and then. Each connection
// the server drops is made again at once, as a client bent on holding the
// server's slots would. One thread polls them all.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TSlowClients {
public:
    enum class TManner { Silent, Trickling };
    struct TOptions {
        uint16_t Port = 0;               // on 127.0.0.1
        std::vector<std::string> From;   // IPv4 source addresses in 127.0.0.0/8
        unsigned PerAddress = 16;
        TManner Manner = TManner::Trickling;
        std::chrono::milliseconds ByteEvery{3000};  // when trickling
    };

    explicit TSlowClients(const TOptions& options);  // starts connecting at once
    ~TSlowClients();                                  // closes every connection
    TSlowClients(const TSlowClients&) = delete;
    TSlowClients& operator=(const TSlowClients&) = delete;

    // Whether, within the wait, this many connections were made in all
    // (counting those made again).
    bool WaitConnected(unsigned long connections, std::chrono::milliseconds wait);
    unsigned long Dropped() const;  // connections the server has closed so far

private:
    struct TSlot;
    void Run();
    void Open(TSlot& slot);
    void Established(TSlot& slot);
    void Lost(TSlot& slot);
    void Trickle(TSlot& slot, std::chrono::steady_clock::time_point now);
    int WaitMilliseconds(std::chrono::steady_clock::time_point now) const;

    TOptions FOptions;
    std::vector<TSlot> FSlots;  // the polling thread's own
    int FWake = -1;             // eventfd: the destructor's word to stop
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    unsigned long FConnected = 0;
    unsigned long FDropped = 0;
    std::thread FThread;
};
