// Tries that find the process's descriptors used up fail, and say so, for
// every method; a run keeps the first such error for its one message.
#include "engine/Icmpecho.h"
#include "engine/Measuredns.h"
#include "engine/Measurehomepage.h"
#include "engine/Measureping.h"
#include "engine/Shortage.h"
#include "engine/Testrun.h"
#include "engine/Uiexecutor.h"
#include "net/IdDNSResolver.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Jointhreads.h"
#include "tests/support/Noproxy.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

namespace {

using namespace std::chrono_literals;

// UndefinedBehaviorSanitizer's type checks open a pipe of their own, and
// report an error where they find no descriptor for it.
#ifdef ORVEL_UNDEFINED_SANITIZER
#define SKIP_WITHOUT_SPARE_DESCRIPTORS() GTEST_SKIP() << "the sanitizer's checks need descriptors of their own"
#else
#define SKIP_WITHOUT_SPARE_DESCRIPTORS() (void)0
#endif

// Opens descriptors until none is left, under a limit low enough to get
// there quickly; gives them back, and the limit, when it goes.
class TDescriptorsUsedUp {
public:
    TDescriptorsUsedUp()
    {
        getrlimit(RLIMIT_NOFILE, &FSaved);
        rlimit lowered = FSaved;
        lowered.rlim_cur = std::min<rlim_t>(FSaved.rlim_cur, 256);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            FHeld.push_back(fd);
    }
    ~TDescriptorsUsedUp()
    {
        for (int fd : FHeld)
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &FSaved);
    }
    TDescriptorsUsedUp(const TDescriptorsUsedUp&) = delete;
    TDescriptorsUsedUp& operator=(const TDescriptorsUsedUp&) = delete;

private:
    rlimit FSaved{};
    std::vector<int> FHeld;
};

TEST(Shortage, TheErrorsOfThingsRunOutAreShortagesAndOthersAreNot)
{
    for (int error : {EMFILE, ENFILE, ENOBUFS, ENOMEM})
        EXPECT_TRUE(IsShortageError(error)) << error;
    for (int error : {0, ECONNREFUSED, EACCES, ETIMEDOUT})
        EXPECT_FALSE(IsShortageError(error)) << error;
}

TEST(Shortage, EachMethodTellsThatItGotNoDescriptor)
{
    SKIP_WITHOUT_SPARE_DESCRIPTORS();
    ClearProxyEnvironment();
    THttpServer page;
    TDnsResponder dns([](const std::string& query, int) {
        return TDnsResponse(dnsmsg::Reply(query, 0x8180, 1, 0, 0,
                                          dnsmsg::Record(dnsmsg::Pointer(12), 1, 60, dnsmsg::AData("127.0.0.9"))));
    });
    TIdDNSResolver resolver;  // its socket is opened at the first query
    resolver.SetPort(dns.Port());
    std::chrono::microseconds elapsed{0};
    int ping = 0;
    int homePage = 0;
    int query = 0;
    {
        TDescriptorsUsedUp used;
        bool denied = false;
        EXPECT_FALSE(MeasurePing("127.0.0.1", 1000, elapsed, nullptr, &denied, &ping));
        EXPECT_FALSE(denied);
        EXPECT_FALSE(MeasureHomePage(page.HostPort(), elapsed, nullptr, 2000ms, &homePage));
        EXPECT_FALSE(MeasureDNSQuery(resolver, "127.0.0.1", 1000, elapsed, nullptr, &query));
    }
    EXPECT_EQ(ping, EMFILE);
    EXPECT_EQ(homePage, EMFILE);
    EXPECT_EQ(query, EMFILE);
    // With descriptors again the same tries succeed and tell nothing.
    EXPECT_TRUE(MeasureHomePage(page.HostPort(), elapsed, nullptr, 2000ms, &homePage));
    EXPECT_EQ(homePage, 0);
    EXPECT_TRUE(MeasureDNSQuery(resolver, "127.0.0.1", 1000, elapsed, nullptr, &query));
    EXPECT_EQ(query, 0);
}

TEST(Shortage, ARunKeepsTheShortageOfItsTriesAndTheNextRunStartsAfresh)
{
    SKIP_WITHOUT_SPARE_DESCRIPTORS();
    ClearProxyEnvironment();
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    // Nobody listens: a try that got a socket after all fails too, but
    // tells no shortage.
    const std::string refused = "127.0.0.1:" + std::to_string(THttpServer::RefusedPort());
    std::vector<TDNSDispInfo> items(3);
    items[0].DomainIP = items[2].DomainIP = refused;
    items[0].DoType = items[2].DoType = dtHomePage;
    items[1].DomainIP = "127.0.0.1";
    items[1].DoType = dtDNSQuery;
    TTestRun run(items, 300, 2);
    run.SetPauseBetweenTries(0ms);
    bool completed = false;
    run.Listener.Completed = [&] { completed = true; };
    {
        TDescriptorsUsedUp used;
        run.Execute();
        ASSERT_TRUE(executor.RunUntil([&] { return completed; }, 30s));
    }
    EXPECT_EQ(run.Shortage(), EMFILE);
    for (const TDNSDispInfo& item : items)
        EXPECT_EQ(item.State, tsNoResponse);

    THttpServer page;
    items.resize(1);
    items[0].DomainIP = page.HostPort();
    completed = false;
    run.Execute();
    ASSERT_TRUE(executor.RunUntil([&] { return completed; }, 30s));
    EXPECT_EQ(run.Shortage(), 0);
    EXPECT_EQ(items[0].State, tsDone);
}

}  // namespace
