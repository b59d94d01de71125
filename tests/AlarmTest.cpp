// The five UPS alarms the driver hands the host at the end of each round.
#include <string>

#include "tests/support/UpsHarness.h"

namespace {

class UpsAlarms : public UpsHarness {
protected:
    void ReloadWithFlags(std::uint8_t sok, std::uint8_t sbp, std::uint8_t suf, std::uint8_t sbl,
                         std::uint8_t sbm)
    {
        const std::uint8_t flags[5] = {sok, sbp, suf, sbl, sbm};
        ::testing::internal::CaptureStdout();
        ups->LoadFromCache(BlockWith(kDataId, flags, 0.0f));
        ::testing::internal::GetCapturedStdout();
    }

    std::vector<bool> States() const
    {
        std::vector<bool> states;
        for (const auto& alarm : host->alarms) {
            states.push_back(alarm.state);
        }
        return states;
    }
};

TEST_F(UpsAlarms, EveryRoundReportsAllFiveInTableOrder)
{
    ReloadWithFlags(0, 0, 0, 0, 0);
    const char* const keys[] = {"sok", "sbp", "suf", "sbl", "sbm"};
    const char* const ids[] = {"08049", "08020", "08001", "08003", "08037"};
    const char* const first[] = {"UPS异常", "旁路供电", "市电掉电", "电压低压", "电池供电告警"};
    const char* const second[] = {"UPS异常", "旁路供电", "市电掉电", "电压低压", "电池放电"};
    ASSERT_EQ(host->alarms.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const BoolAlarmCheck& alarm = host->alarms[i];
        EXPECT_EQ(alarm.kind, 1);
        EXPECT_EQ(alarm.signal_key, keys[i]);
        EXPECT_EQ(alarm.alarm_id, ids[i]);
        EXPECT_EQ(alarm.first_text, first[i]);
        EXPECT_EQ(alarm.second_text, second[i]);
        EXPECT_FALSE(alarm.state);
        EXPECT_EQ(alarm.index, i + 1);
    }
}

TEST_F(UpsAlarms, StateFollowsEachFlagAndAnyNonZeroByteCountsAsSet)
{
    ReloadWithFlags(1, 0, 0, 0, 0);
    EXPECT_EQ(States(), (std::vector<bool>{true, false, false, false, false}));

    host->Clear();
    ReloadWithFlags(0, 2, 0, 255, 1);
    EXPECT_EQ(States(), (std::vector<bool>{false, true, false, true, true}));
}

TEST_F(UpsAlarms, AParsedStatusAnswerRaisesItsAlarms)
{
    auto reading = ups_answers::OnLine();
    reading.flags = {0, 0, 1, 0, 1};  // mains failed, on battery
    ::testing::internal::CaptureStdout();
    Cycle(reading);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(States(), (std::vector<bool>{false, false, true, false, true}));
}

TEST_F(UpsAlarms, CheckIndexWrapsAfter65535)
{
    ups->SetCheckIndex(65535);
    ups->RunCheckThreshold();
    std::vector<unsigned short> indices;
    for (const auto& alarm : host->alarms) {
        indices.push_back(alarm.index);
    }
    EXPECT_EQ(indices, (std::vector<unsigned short>{65535, 0, 1, 2, 3}));
    EXPECT_EQ(ups->CheckIndex(), 4);
}

}  // namespace
