// The changes between runs that the desktop is told about.
#include "engine/Answerwatch.h"

#include <gtest/gtest.h>

namespace {

const std::string kPlan = "家里";

TAnswerState Up(std::string name) { return {std::move(name), true}; }
TAnswerState Down(std::string name) { return {std::move(name), false}; }

using TChanges = std::vector<TAnswerChange>;

TEST(AnswerWatch, AnItemThatStopsAnsweringIsDownAndOneThatAnswersAgainIsUp)
{
    TAnswerWatch watch;
    EXPECT_EQ(watch.RunCompleted(kPlan, {Up("甲"), Down("乙"), Up("丙")}), TChanges{});
    EXPECT_EQ(watch.RunCompleted(kPlan, {Down("甲"), Up("乙"), Up("丙")}),
              (TChanges{{"甲", false}, {"乙", true}}));
    // Each change is told once: the next run compares with this one.
    EXPECT_EQ(watch.RunCompleted(kPlan, {Down("甲"), Up("乙"), Up("丙")}), TChanges{});
    EXPECT_EQ(watch.RunCompleted(kPlan, {Up("甲"), Up("乙"), Up("丙")}), (TChanges{{"甲", true}}));
}

TEST(AnswerWatch, TheFirstRunHasNothingToCompareWith)
{
    TAnswerWatch watch;
    EXPECT_EQ(watch.RunCompleted(kPlan, {Down("甲"), Down("乙")}), TChanges{});
    EXPECT_EQ(watch.RunCompleted(kPlan, {Up("甲"), Down("乙")}), (TChanges{{"甲", true}}));
}

TEST(AnswerWatch, NewAndRemovedItemsAreNoChange)
{
    TAnswerWatch watch;
    watch.RunCompleted(kPlan, {Up("甲"), Up("乙")});
    // 乙 removed, 丁 new and not answering.
    EXPECT_EQ(watch.RunCompleted(kPlan, {Up("甲"), Down("丁")}), TChanges{});
    // 乙 back is new again: its answer two runs ago is forgotten.
    EXPECT_EQ(watch.RunCompleted(kPlan, {Up("甲"), Down("乙"), Up("丁")}), (TChanges{{"丁", true}}));
}

TEST(AnswerWatch, AnotherPlanOrAResetStartsAfresh)
{
    TAnswerWatch watch;
    watch.RunCompleted(kPlan, {Up("甲")});
    EXPECT_EQ(watch.RunCompleted("公司", {Down("甲")}), TChanges{});
    EXPECT_EQ(watch.RunCompleted("公司", {Up("甲")}), (TChanges{{"甲", true}}));
    // Back to the first plan: compared with nothing, not with its old run.
    EXPECT_EQ(watch.RunCompleted(kPlan, {Down("甲")}), TChanges{});

    watch.Reset();
    EXPECT_EQ(watch.RunCompleted(kPlan, {Up("甲")}), TChanges{});
    EXPECT_EQ(watch.RunCompleted(kPlan, {Down("甲")}), (TChanges{{"甲", false}}));
}

TEST(AnswerWatch, TheUnnamedPlanIsAPlanToo)
{
    TAnswerWatch watch;
    watch.RunCompleted("", {Up("甲")});
    EXPECT_EQ(watch.RunCompleted("", {Down("甲")}), (TChanges{{"甲", false}}));
}

TEST(AnswerWatch, ItemsOfOneNameAreToldApartByTheirOrder)
{
    TAnswerWatch watch;
    watch.RunCompleted(kPlan, {Up("同名"), Down("同名")});
    EXPECT_EQ(watch.RunCompleted(kPlan, {Up("同名"), Down("同名")}), TChanges{});
    EXPECT_EQ(watch.RunCompleted(kPlan, {Down("同名"), Down("同名")}), (TChanges{{"同名", false}}));
}

TEST(AnswerStates, NamesAreUtf8AndUnfinishedItemsAreLeftOut)
{
    std::vector<TDNSDispInfo> items(4);
    items[0].Name = "\xBC\xD2";  // 家 in GBK
    items[0].State = tsDone;
    items[1].Name = "b";
    items[1].State = tsNoResponse;
    items[2].Name = "c";
    items[2].State = tsWaiting;
    items[3].Name = "d";
    items[3].State = tsTesting;
    const std::vector<TAnswerState> states = AnswerStates(items);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].Name, "家");
    EXPECT_TRUE(states[0].Answered);
    EXPECT_EQ(states[1].Name, "b");
    EXPECT_FALSE(states[1].Answered);
}

}  // namespace
