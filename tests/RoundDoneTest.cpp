// The end of a round and the reload of a cached block, as the host sees them.
#include <string>

#include "framework/ttime.h"
#include "tests/support/UpsHarness.h"

namespace {

using Bytes = RecordingController::Bytes;

class RoundDone : public UpsHarness {
protected:
    std::string RoundOutput()
    {
        ::testing::internal::CaptureStdout();
        ups->RoundDone();
        return ::testing::internal::GetCapturedStdout();
    }
};

TEST_F(RoundDone, HostCallsComeInRoundOrder)
{
    ups->SetAnalogValue("ia", 1.0f);
    ups->SetAnalogValue("ib", 2.0f);
    ups->QueueRuleCheck(rule_value{});
    ups->QueueRuleCheck(rule_value{});

    EXPECT_EQ(RoundOutput(), "rvSize is 2\n");
    EXPECT_EQ(host->calls,
              (std::vector<std::string>{"publish", "end", "bool", "bool", "bool", "bool", "bool",
                                        "analog ia", "threshold ia", "analog ib",
                                        "threshold ib", "rules", "history"}));
    EXPECT_EQ(host->rule_batches, std::vector<std::size_t>{2});
    EXPECT_EQ(ups->PendingRuleChecks(), 0u);
}

TEST_F(RoundDone, PublishesAndStoresTheSameStampedBlockAsType5017)
{
    EXPECT_FALSE(ups->DataValid());
    Cycle(ups_answers::OnLine());
    EXPECT_TRUE(ups->DataValid());

    ASSERT_EQ(host->published.size(), 1u);
    ASSERT_EQ(host->history.size(), 1u);
    const Bytes& block = host->published[0].block;
    EXPECT_EQ(host->published[0].data_type, 5017);
    EXPECT_FALSE(host->published[0].delayed);
    EXPECT_EQ(block, host->history[0]);
    ASSERT_EQ(block.size(), 76u);

    const ttime stamp = get_ttime(ups->LastUpdate());
    EXPECT_EQ(Bytes(block.begin() + 69, block.end()),
              Bytes(reinterpret_cast<const std::uint8_t*>(&stamp),
                    reinterpret_cast<const std::uint8_t*>(&stamp) + 7));
    EXPECT_GT(stamp.year, 2000);
}

TEST_F(RoundDone, AlarmFlagIsClearedBeforeChecksAndRaisedByAnyReport)
{
    host->analog_answers["ia"] = true;
    ups->SetAnalogValue("ia", 1.0f);
    ups->SetAnalogValue("ib", 2.0f);
    RoundOutput();
    EXPECT_EQ(host->analog_reports, (std::vector<std::string>{"ia", "ib"}));
    EXPECT_TRUE(ups->AlarmFlag());

    RoundOutput();  // the flag left at 1 is 0 again when the UPS checks run
    EXPECT_FALSE(host->alarm_flag_at_alarm[5]);

    host->analog_answers["ia"] = false;
    host->rules_answer = true;
    RoundOutput();
    EXPECT_TRUE(ups->AlarmFlag());

    host->rules_answer = false;
    RoundOutput();
    EXPECT_FALSE(ups->AlarmFlag());
}

TEST_F(RoundDone, EmptyListsStillRunTheBatchCheckOnce)
{
    EXPECT_EQ(RoundOutput(), "rvSize is 0\n");
    EXPECT_TRUE(host->analog_reports.empty());
    EXPECT_EQ(host->rule_batches, std::vector<std::size_t>{0});
}

TEST_F(RoundDone, UpsChecksStartAtIndexOne)
{
    ups->SetCheckIndex(400);
    RoundOutput();
    ASSERT_EQ(host->alarms.size(), 5u);
    EXPECT_EQ(host->alarms[0].index, 1);
    EXPECT_EQ(ups->CheckIndex(), 6);
}

// ---- Cache reload -----------------------------------------------------------------

TEST_F(RoundDone, CacheRefusesAnyLengthButTheBlockSize)
{
    const std::uint8_t flags[5] = {1, 1, 1, 1, 1};
    const std::string block = BlockWith(7, flags, 3.5f);
    for (int len : {75, 77, 0, -1, -76}) {
        EXPECT_EQ(ups->LoadFromCache(reinterpret_cast<const unsigned char*>(block.data()), len),
                  0)
            << len;
    }
    EXPECT_EQ(ups->LoadFromCache(nullptr, 76), 0);
    EXPECT_EQ(ups->LoadFromCache(std::string()), 0);
    EXPECT_TRUE(host->calls.empty());
    EXPECT_FALSE(ups->DataValid());
    EXPECT_TRUE(ups->LastUpdate().is_special());
}

TEST_F(RoundDone, CachedBlockIsRepublishedAsItCameWithAFreshStamp)
{
    const std::uint8_t flags[5] = {2, 0, 1, 0, 255};
    const std::string cached = BlockWith(0xABCDEF01u, flags, -7.25f);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ups->LoadFromCache(cached), 1);
    ::testing::internal::GetCapturedStdout();

    EXPECT_TRUE(ups->DataValid());
    ASSERT_EQ(host->published.size(), 1u);
    ASSERT_EQ(host->history.size(), 1u);
    const Bytes& block = host->published[0].block;
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 69), Bytes(cached.begin(), cached.begin() + 69));
    EXPECT_EQ(host->history[0], block);
    EXPECT_EQ(host->published[0].data_type, 5017);
    const ttime stamp = get_ttime(ups->LastUpdate());
    EXPECT_EQ(std::memcmp(block.data() + 69, &stamp, 7), 0);
}

}  // namespace
