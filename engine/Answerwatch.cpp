#include "engine/Answerwatch.h"

#include "vqlib/Gbk.h"

std::vector<TAnswerState> AnswerStates(const std::vector<TDNSDispInfo>& items)
{
    std::vector<TAnswerState> states;
    states.reserve(items.size());
    for (const TDNSDispInfo& item : items) {
        if (item.State == tsDone || item.State == tsNoResponse)
            states.push_back({GbkToUtf8(item.Name), item.State == tsDone});
    }
    return states;
}

std::vector<TAnswerChange> TAnswerWatch::RunCompleted(const std::string& planUtf8,
                                                      const std::vector<TAnswerState>& items)
{
    const bool comparable = FPlan == planUtf8;
    std::map<TKey, bool> answered;
    std::map<std::string, int> seen;
    std::vector<TAnswerChange> changes;
    for (const TAnswerState& item : items) {
        TKey key{item.Name, seen[item.Name]++};
        if (comparable) {
            const auto before = FAnswered.find(key);
            if (before != FAnswered.end() && before->second != item.Answered)
                changes.push_back({item.Name, item.Answered});
        }
        answered.emplace(std::move(key), item.Answered);
    }
    FPlan = planUtf8;
    FAnswered = std::move(answered);
    return changes;
}

void TAnswerWatch::Reset()
{
    FPlan.reset();
    FAnswered.clear();
}
