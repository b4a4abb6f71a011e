#include "cli/Progressline.h"

TProgressLine::TProgressLine(TWrite write, TNow now, std::chrono::milliseconds every)
    : FWrite(std::move(write)), FNow(std::move(now)), FEvery(every)
{
}

void TProgressLine::Show(int finished, int total)
{
    if (finished >= total) {
        if (FShown)
            FWrite("\r\033[K");
        FShown.reset();
        return;
    }
    const auto now = FNow();
    if (FShown && now - *FShown < FEvery)
        return;
    FShown = now;
    // Back to the line's start; the figures only grow, so nothing is left over.
    FWrite("\r" + std::to_string(finished) + "/" + std::to_string(total));
}
