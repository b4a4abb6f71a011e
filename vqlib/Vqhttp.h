#pragma once
// A small HTTP client over libcurl. Raises nothing: every failure is false.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace vqlib {

class THttp {
public:
    static constexpr uint32_t kBufferSize = 0x100000;  // 1 MiB
    static constexpr long kConnectTimeoutS = 30;
    static constexpr long kStallTimeoutS = 30;          // no byte for this long ends a fetch

    // Allocates the buffer and opens the client with the user agent
    // "vqweb_" + the calling thread's id; a failed step shows as a failed fetch.
    THttp();
    ~THttp();
    THttp(const THttp&) = delete;
    THttp& operator=(const THttp&) = delete;

    // Fetches url and reads its body to the end; true only then, whatever the
    // status code. With a sink, the body is appended to it (emptied first).
    bool GetURL(const std::string& url, std::string* sink = nullptr);

    // A fetch in progress ends, as a failure, soon after *abort turns true.
    void SetAbortFlag(const std::atomic<bool>* abort) { FAbort = abort; }

    const std::string& UserAgent() const { return FUserAgent; }

    void* FInternet = nullptr;                 // the curl handle; null when it could not be opened
    std::unique_ptr<unsigned char[]> FBuffer;  // chunks of the body pass through it
    uint32_t FBufferSize = 0;

private:
    struct TTransfer;
    static size_t OnData(char* data, size_t size, size_t count, void* transfer);
    static int OnProgress(void* transfer, long long, long long, long long, long long);

    std::string FUserAgent;
    const std::atomic<bool>* FAbort = nullptr;
};

}  // namespace vqlib
