#pragma once
// A loopback HTTP/1.1 server for tests and benchmarks, over TLS when given a
// certificate: one thread per connection, every answer closes its connection.

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class THttpServer {
public:
    struct TResponse {
        int Status = 200;
        size_t BodySize = 0;       // bytes of 'x'
        int DelayMs = 0;           // before the status line is sent
        bool CutBody = false;      // announce BodySize, send half of it, close
        std::string Location;      // sent as Location: when not empty
        bool StallBody = false;    // announce BodySize, send half of it, then nothing
        bool Endless = false;      // no length announced, and the body never ends
        int DripBytesPerSecond = 0;  // the body one byte at a time at this pace
    };
    // Every wait of a connection ends when the client leaves or the server
    // stops, so a hostile answer never outlives its test.

    struct TOptions {
        int Family = AF_INET;          // AF_INET6: listens on ::1
        std::string CertificateFile;   // PEM; with KeyFile, HTTPS
        std::string KeyFile;
    };

    THttpServer();   // listens on 127.0.0.1 at a free port
    explicit THttpServer(const TOptions& options);  // throws std::runtime_error when it cannot
    ~THttpServer();  // stops and waits for every connection
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    uint16_t Port() const { return FPort; }
    // "127.0.0.1:port" or "[::1]:port", a target as the user types it
    std::string HostPort() const;
    // The typed form with the scheme: "http://" or "https://" + HostPort().
    std::string Url() const;

    void SetResponse(const TResponse& response);                          // for every path
    void SetResponseFor(const std::string& path, const TResponse& response);

    // Request heads (request line and headers) in the order they came.
    std::vector<std::string> Requests() const;
    // The value of a header in a request head, "" when absent (name case-insensitive).
    static std::string HeaderValue(const std::string& head, const std::string& name);

    // A loopback port on which nobody listens (taken and released at once).
    static uint16_t RefusedPort();

private:
    struct TConnection;
    void AcceptLoop();
    void Serve(int fd);
    void Answer(TConnection& connection);
    bool SendBody(TConnection& connection, const TResponse& response);
    bool SendSome(TConnection& connection, const char* data, size_t size);
    bool WaitClientGone(TConnection& connection, std::chrono::microseconds wait);
    TResponse ResponseFor(const std::string& path) const;

    TOptions FOptions;
    void* FTls = nullptr;  // the SSL_CTX when serving HTTPS
    int FListen = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStopping{false};
    std::thread FAcceptor;
    mutable std::mutex FMutex;
    std::vector<std::thread> FConnections;
    std::vector<std::string> FRequests;
    TResponse FDefault;
    std::map<std::string, TResponse> FByPath;
};
