#include "engine/Hostresolution.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Failingalloc.h"
#include "tests/support/Heldlookups.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Every name answers "address of" itself.
std::shared_ptr<THeldLookups> HeldLookups()
{
    return std::make_shared<THeldLookups>(
        [](const std::string& host) { return std::optional<std::string>("address of " + host); });
}

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

// The lookup thread that answers last hands the addresses over without
// allocating: one that found no memory for it would leave the run waiting.
TEST_F(HostResolutionTest, TheLastAnswerReachesTheUiThreadWhenMemoryHasRunOut)
{
    std::optional<THostResolution::TAddresses> answered;
    THostResolution resolution(
        {"host.test"},
        [](const std::string&) {
            std::optional<std::string> address("127.0.0.9");
            FailAllocationsOnThisThread();  // the lookup thread's, until it ends
            return address;
        },
        [&](THostResolution::TAddresses addresses) { answered = std::move(addresses); });
    ASSERT_TRUE(Executor.RunUntil([&] { return answered.has_value(); }, 10s));
    EXPECT_EQ(*answered, THostResolution::TAddresses{"127.0.0.9"});
}

// Every lookup of the first round waits until all of the bound are in flight
// at once: looked up one after another, or fewer at a time, they never would.
TEST_F(HostResolutionTest, NamesAreLookedUpAtOnceUpToTheBoundAndAnsweredInOrder)
{
    auto held = HeldLookups();
    held->OpenAt(THostResolution::kMaxInFlight);
    std::optional<THostResolution::TAddresses> answered;
    int calls = 0;
    THostResolution resolution(
        Names(150), held->Lookup(),
        [&](THostResolution::TAddresses addresses) {
            EXPECT_EQ(std::this_thread::get_id(), UiThread);
            ++calls;
            answered = std::move(addresses);
        });
    EXPECT_FALSE(answered);  // the constructor does not wait for them
    ASSERT_TRUE(Executor.RunUntil([&] { return answered.has_value(); }, 30s));
    EXPECT_EQ(held->MostInFlight(), THostResolution::kMaxInFlight);
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
            return "127.0.0.9";
        },
        [&](THostResolution::TAddresses addresses) { answered = std::move(addresses); });
    ASSERT_TRUE(Executor.RunUntil([&] { return answered.has_value(); }, 30s));
    const THostResolution::TAddresses expected{"127.0.0.9", std::nullopt, std::nullopt, "127.0.0.9"};
    EXPECT_EQ(*answered, expected);
}

// Abandoning waits for no lookup, takes no further name, and drops the
// answers of the lookups that were under way.
TEST_F(HostResolutionTest, AnAbandonedResolutionWaitsForNothingAndAnswersNobody)
{
    auto held = HeldLookups();
    bool answered = false;
    {
        THostResolution resolution(Names(100), held->Lookup(), [&](THostResolution::TAddresses) { answered = true; });
        ASSERT_TRUE(held->WaitFor([](int inFlight, int) { return inFlight == THostResolution::kMaxInFlight; }));
    }  // abandoned here, with every lookup in flight still waiting
    EXPECT_EQ(held->Answered(), 0);
    held->Open();
    ASSERT_TRUE(held->WaitFor([](int, int answeredCount) { return answeredCount == THostResolution::kMaxInFlight; }));
    Executor.RunUntil([] { return false; }, 100ms);
    EXPECT_FALSE(answered);
    EXPECT_EQ(held->Started(), THostResolution::kMaxInFlight);  // the other names were never looked up
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
