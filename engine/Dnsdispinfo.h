#pragma once
// The test item record shared by the window, the store and the workers.

#include <cstdint>
#include <string>

// Measurement method codes (TDNSDispInfo::DoType).
enum : int8_t { dtPing = 0, dtHomePage = 1, dtDNSQuery = 2, dtTCPConnect = 3 };

// Test states (TDNSDispInfo::State).
enum : uint8_t { tsDone = 0, tsWaiting = 1, tsTesting = 2, tsNoResponse = 3 };

// Texts are code-page-936 byte strings.
struct TDNSDispInfo {
    std::string Name;
    std::string DomainIP;
    int8_t DoType = dtPing;
    std::string Note;
    std::string IP;
    int32_t FailCount = 0;
    uint8_t State = tsWaiting;
    double AvgTime = 0.0;
};
