#include "engine/Offlooptry.h"

#include "engine/Thread.h"
#include "engine/Tryloop.h"

#include <cerrno>
#include <memory>
#include <new>

namespace {

class TOffLoopThread final : public TThread {
public:
    TOffLoopThread(TTryLoop& loop, TOffLoopTry::TBody body, TOffLoopTry::TDone done)
        : FLoop(loop),
          FBody(std::move(body)),
          FOutcome(std::make_shared<TTryOutcome>()),
          // Made here, so that handing the outcome back needs no memory.
          FHandBack([done = std::move(done), outcome = FOutcome] { done(*outcome); })
    {
        FLoop.Retain();
        try {
            Start();
        } catch (...) {
            FLoop.Release();
            throw;
        }
    }

private:
    void Execute() override
    {
        *FOutcome = Outcome();
        FLoop.Post(std::move(FHandBack));
        FLoop.Release();
    }

    // What the body throws is a failed try, as a try reports its errors.
    TTryOutcome Outcome() noexcept
    {
        TTryOutcome failed;
        failed.Cause = TTryCause::Other;
        try {
            TTryOutcome outcome = FBody();
            if (!outcome.Ok && outcome.Cause == TTryCause::None)
                outcome.Cause = outcome.Shortage ? TTryCause::Shortage : TTryCause::Other;
            return outcome;
        } catch (const std::bad_alloc&) {
            failed.Shortage = ENOMEM;
            failed.Cause = TTryCause::Shortage;
            return failed;
        } catch (...) {
            return failed;
        }
    }

    TTryLoop& FLoop;
    TOffLoopTry::TBody FBody;
    std::shared_ptr<TTryOutcome> FOutcome;
    TTryLoop::TReservedTask FHandBack;
};

}  // namespace

void TOffLoopTry::Start(TTryLoop& loop, TBody body, TDone done)
{
    new TOffLoopThread(loop, std::move(body), std::move(done));
}
