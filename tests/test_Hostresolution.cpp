#include "engine/Hostresolution.h"
#include "engine/Uiexecutor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Lookups that wait at a gate until the test opens it, counting how many wait
// at once. Shared with the lookups, which may outlive the test's scope.
struct TGate {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = false;
    int InFlight = 0;
    int MostInFlight = 0;
    int Started = 0;
    int Ended = 0;
    int OpenAt = 0;  // opens by itself once this many wait at once; 0: never

    std::optional<std::string> Pass(const std::string& host)
    {
        std::unique_lock lock(Mutex);
        ++Started;
        MostInFlight = std::max(MostInFlight, ++InFlight);
        if (OpenAt > 0 && InFlight >= OpenAt)
            Open = true;
        Changed.notify_all();
        Changed.wait_for(lock, 20s, [this] { return Open; });
        --InFlight;
        ++Ended;
        Changed.notify_all();
        return "address of " + host;
    }
    void OpenNow()
    {
        std::lock_guard lock(Mutex);
        Open = true;
        Changed.notify_all();
    }
    bool WaitFor(const std::function<bool()>& condition)
    {
        std::unique_lock lock(Mutex);
        return Changed.wait_for(lock, 20s, condition);
    }
};

std::vector<std::string> Names(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("host" + std::to_string(i) + ".test");
    return names;
}

class HostResolutionTest : public ::testing::Test {
protected:
    std::thread::id UiThread = std::this_thread::get_id();
    TQueueUiExecutor Executor;
    TUiExecutorScope Scope{Executor};
};

// Every lookup of the first round waits until all of the bound are in flight
// at once: looked up one after another, or fewer at a time, they never would.
TEST_F(HostResolutionTest, NamesAreLookedUpAtOnceUpToTheBoundAndAnsweredInOrder)
{
    auto gate = std::make_shared<TGate>();
    gate->OpenAt = THostResolution::kMaxInFlight;
    std::optional<THostResolution::TAddresses> answered;
    int calls = 0;
    THostResolution resolution(
        Names(150), [gate](const std::string& host) { return gate->Pass(host); },
        [&](THostResolution::TAddresses addresses) {
            EXPECT_EQ(std::this_thread::get_id(), UiThread);
            ++calls;
            answered = std::move(addresses);
        });
    EXPECT_FALSE(answered);  // the constructor does not wait for them
    ASSERT_TRUE(Executor.RunUntil([&] { return answered.has_value(); }, 30s));
    EXPECT_EQ(gate->MostInFlight, THostResolution::kMaxInFlight);
    ASSERT_EQ(answered->size(), 150u);
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ((*answered)[i], "address of host" + std::to_string(i) + ".test");
    Executor.RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(calls, 1);
}

TEST_F(HostResolutionTest, AFailedOrThrowingLookupFindsNoAddress)
{
    std::optional<THostResolution::TAddresses> answered;
    THostResolution resolution(
        {"good.test", "bad.test", "throws.test", "good.test"},
        [](const std::string& host) -> std::optional<std::string> {
            if (host == "throws.test")
                throw std::runtime_error("lookup broke");
            if (host == "bad.test")
                return std::nullopt;
            return "192.0.2.1";
        },
        [&](THostResolution::TAddresses addresses) { answered = std::move(addresses); });
    ASSERT_TRUE(Executor.RunUntil([&] { return answered.has_value(); }, 30s));
    const THostResolution::TAddresses expected{"192.0.2.1", std::nullopt, std::nullopt, "192.0.2.1"};
    EXPECT_EQ(*answered, expected);
}

// Abandoning waits for no lookup, takes no further name, and drops the
// answers of the lookups that were under way.
TEST_F(HostResolutionTest, AnAbandonedResolutionWaitsForNothingAndAnswersNobody)
{
    auto gate = std::make_shared<TGate>();
    bool answered = false;
    {
        THostResolution resolution(
            Names(100), [gate](const std::string& host) { return gate->Pass(host); },
            [&](THostResolution::TAddresses) { answered = true; });
        ASSERT_TRUE(gate->WaitFor([&] { return gate->InFlight == THostResolution::kMaxInFlight; }));
    }  // abandoned here, with every lookup in flight still waiting
    {
        std::lock_guard lock(gate->Mutex);
        EXPECT_EQ(gate->Ended, 0);
    }
    gate->OpenNow();
    ASSERT_TRUE(gate->WaitFor([&] { return gate->Ended == THostResolution::kMaxInFlight; }));
    Executor.RunUntil([] { return false; }, 100ms);
    EXPECT_FALSE(answered);
    std::lock_guard lock(gate->Mutex);
    EXPECT_EQ(gate->Started, THostResolution::kMaxInFlight);  // the other names were never looked up
}

TEST(HostResolution, WithoutAnExecutorTheNamesAreLookedUpBeforeTheConstructorReturns)
{
    ASSERT_EQ(InstalledUiExecutor(), nullptr);
    std::optional<THostResolution::TAddresses> answered;
    THostResolution resolution(
        {"a.test", "b.test"}, [](const std::string& host) { return std::optional<std::string>(host + "!"); },
        [&](THostResolution::TAddresses addresses) { answered = std::move(addresses); });
    ASSERT_TRUE(answered);
    EXPECT_EQ(*answered, (THostResolution::TAddresses{"a.test!", "b.test!"}));
}

}  // namespace
