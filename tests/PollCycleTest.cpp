// The poll cycle as the host drives it: RefreshStatus, then received chunks.
#include <algorithm>
#include <string>

#include "tests/support/UpsHarness.h"

using ups_answers::Reading;

namespace {

// On line, with the UPS-fault flag set so that a flag of each value shows.
Reading SokSet()
{
    Reading reading = ups_answers::OnLine();
    reading.flags[0] = 1;
    return reading;
}

class PollCycle : public UpsHarness {
protected:
    Reading reading = SokSet();
    std::string status = ups_answers::StatusAnswer(reading);
    std::string data = ups_answers::DataAnswer(reading);
};

TEST_F(PollCycle, CompleteCycleSendsBothCommandsAndPublishesTheRecord)
{
    EXPECT_EQ(ups->RefreshStatus(), 1);
    EXPECT_EQ(ups->Step(), 2);
    EXPECT_EQ(host->writes, std::vector<std::string>{"RS\r"});

    EXPECT_EQ(Feed(status), 1);
    EXPECT_EQ(ups->Step(), 3);
    EXPECT_EQ(ups->RxLength(), 0u);
    EXPECT_EQ(host->writes, (std::vector<std::string>{"RS\r", "RD\r"}));

    EXPECT_EQ(Feed(data), 0);
    EXPECT_EQ(ups->Step(), 3);
    ASSERT_EQ(host->published.size(), 1u);
    const auto& block = host->published[0].block;
    EXPECT_EQ(block[4], 1);  // sok
    for (int flag = 5; flag < 9; ++flag) {
        EXPECT_EQ(block[flag], 0);
    }
    EXPECT_FLOAT_EQ(BlockFloat(block, 9), 230.5f);    // dvia
    EXPECT_FLOAT_EQ(BlockFloat(block, 45), 28.5f);    // dtmp
    EXPECT_FLOAT_EQ(BlockFloat(block, 49), 50.0f);    // dhzf
    EXPECT_FLOAT_EQ(BlockFloat(block, 57), 25.0f);    // dtmb from the DTMB line
    EXPECT_FLOAT_EQ(BlockFloat(block, 61), 13.6f);    // dvbn from the DVBN line
    EXPECT_FLOAT_EQ(BlockFloat(block, 65), 20.0f);    // dvbl
}

TEST_F(PollCycle, AnswerSplitBetweenCrAndLfIsParsedOnceWhenComplete)
{
    ups->RefreshStatus();
    const std::size_t split = status.rfind('\r') + 1;
    EXPECT_EQ(Feed(status.substr(0, 3)), 1);
    EXPECT_EQ(Feed(status.substr(3, split - 3)), 1);
    EXPECT_EQ(host->writes.size(), 1u);
    EXPECT_EQ(Feed(status.substr(split)), 1);
    EXPECT_EQ(host->writes.back(), "RD\r");
    EXPECT_EQ(ups->Step(), 3);
}

TEST_F(PollCycle, ByteByByteCycleEndsOnTheLastByteOnly)
{
    ups->RefreshStatus();
    const std::string wire = status + data;
    for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
        ASSERT_EQ(Feed(wire.substr(i, 1)), 1) << "byte " << i;
    }
    EXPECT_EQ(Feed(wire.substr(wire.size() - 1)), 0);
    EXPECT_EQ(host->published.size(), 1u);
}

TEST_F(PollCycle, AnswerWithAnExtraLineIsHeldAndNeverParsed)
{
    ups->RefreshStatus();
    EXPECT_EQ(Feed(status + "SX"), 1);  // seventh line done, an eighth begun
    EXPECT_EQ(Feed("1\r\n"), 1);
    EXPECT_EQ(ups->Step(), 2);
    EXPECT_EQ(host->writes.size(), 1u);
    EXPECT_EQ(ups->RxLength(), status.size() + 5);
}

TEST_F(PollCycle, SevenLinesInTheDataStepAreHeld)
{
    ups->RefreshStatus();
    Feed(status);
    EXPECT_EQ(Feed(status), 1);
    EXPECT_EQ(ups->RxLength(), status.size());
    EXPECT_TRUE(host->published.empty());
}

TEST_F(PollCycle, ZeroLengthChunkReexaminesHeldBytes)
{
    ups->RefreshStatus();
    Feed(status);
    EXPECT_EQ(ups->process(nullptr, 0), 1);
    EXPECT_EQ(ups->RxLength(), 0u);
}

TEST_F(PollCycle, RefreshStatusRestartsFromAnyStateAndAlwaysSendsStatusCommand)
{
    for (const std::string& chunk : {std::string(), status, std::string(4097, 'x')}) {
        Feed(chunk);
        EXPECT_EQ(ups->RefreshStatus(), 1);
        EXPECT_EQ(ups->Step(), 2);
        EXPECT_EQ(host->writes.back(), "RS\r");
    }
}

TEST_F(PollCycle, TagsAreFoundInAnyOrderAndMidLineAndFirstOccurrenceWins)
{
    auto lines = ups_answers::DataLines(reading);
    std::reverse(lines.begin(), lines.end());
    lines[0].tag = "noise DVBL";  // reversed: DVBL first
    lines[1].value = "  230.5abc";  // DTMB, with a blank before and letters after
    lines.back().value = "99.5";   // DVIA
    std::string text = ups_answers::Join(lines);
    text.replace(text.rfind("DVIA"), 0, "DVIA1.5\r");  // no CR LF: does not fit

    EXPECT_EQ(Cycle(status, text), 0);
    const auto& block = host->published.back().block;
    EXPECT_FLOAT_EQ(BlockFloat(block, 65), 20.0f);
    EXPECT_FLOAT_EQ(BlockFloat(block, 57), 230.5f);
    EXPECT_FLOAT_EQ(BlockFloat(block, 9), 99.5f);
}

// ---- Bad answers end the exchange with Reset ------------------------------------

TEST_F(PollCycle, StatusDigitOtherThanZeroOrOneEndsTheExchange)
{
    const std::uint8_t all_set[5] = {1, 1, 1, 1, 1};
    ups->LoadFromCache(BlockWith(kDataId, all_set, 1.0f));
    host->Clear();

    auto lines = ups_answers::StatusLines(reading);
    lines[0].value = "0";
    lines[1].value = "2";
    ups->RefreshStatus();
    EXPECT_EQ(Feed(ups_answers::Join(lines)), 0);
    EXPECT_EQ(host->calls, (std::vector<std::string>{"start", "write", "end"}));
    EXPECT_EQ(ups->Step(), 2);
    EXPECT_EQ(ups->RxLength(), 0u);

    const auto block = PublishedNow();
    EXPECT_EQ(block[4], 0);  // sok: stored before the failing tag
    for (int flag = 5; flag < 9; ++flag) {
        EXPECT_EQ(block[flag], 1);
    }
}

TEST_F(PollCycle, MissingDataTagEndsTheExchangeWithoutPublishing)
{
    auto lines = ups_answers::DataLines(reading);
    lines[3].tag = "DXOA";
    EXPECT_EQ(Cycle(status, ups_answers::Join(lines)), 0);
    EXPECT_TRUE(host->published.empty());
    EXPECT_EQ(host->calls.back(), "end");

    const auto block = PublishedNow();
    EXPECT_FLOAT_EQ(BlockFloat(block, 17), 231.1f);  // dvic, before the gap
    EXPECT_FLOAT_EQ(BlockFloat(block, 21), 0.0f);    // dvoa, never written
}

TEST_F(PollCycle, ValueThatIsNoNumberEndsTheExchangeInsteadOfThrowing)
{
    for (const char* bad : {"", "abc", "1e39", "-1e39"}) {
        host->Clear();
        auto lines = ups_answers::DataLines(reading);
        lines[2].value = bad;
        int result = -1;
        EXPECT_NO_THROW(result = Cycle(status, ups_answers::Join(lines))) << bad;
        EXPECT_EQ(result, 0) << bad;
        EXPECT_TRUE(host->published.empty()) << bad;
        EXPECT_EQ(host->calls.back(), "end") << bad;
        EXPECT_EQ(ups->Step(), 3);
        EXPECT_EQ(ups->RxLength(), 0u);
    }
    const auto block = PublishedNow();
    EXPECT_FLOAT_EQ(BlockFloat(block, 13), 229.8f);  // dvib, before the bad value
}

TEST_F(PollCycle, OverlongLineInTheDataAnswerEndsTheExchangeUnparsed)
{
    auto lines = ups_answers::DataLines(reading);
    lines[14].value = "20.0" + std::string(121, ' ');  // DVBL and 125 bytes: a 129-byte run
    EXPECT_EQ(Cycle(status, ups_answers::Join(lines)), 0);
    EXPECT_EQ(host->calls.back(), "end");
    EXPECT_FLOAT_EQ(BlockFloat(PublishedNow(), 9), 0.0f);

    lines[14].value = "20.0" + std::string(120, ' ');  // a 128-byte run is still a line
    host->Clear();
    EXPECT_EQ(Cycle(status, ups_answers::Join(lines)), 0);
    EXPECT_EQ(host->published.size(), 1u);
}

// ---- The receive buffer holds 4096 bytes ------------------------------------------

TEST_F(PollCycle, BufferTakes4096BytesAndDropsTheChunkThatWouldPassThem)
{
    ups->RefreshStatus();
    EXPECT_EQ(Feed(std::string(4000, 'x')), 1);
    EXPECT_EQ(Feed(std::string(96, 'x')), 1);
    EXPECT_EQ(ups->RxLength(), 4096u);

    const auto calls = host->calls.size();
    EXPECT_EQ(Feed("x"), 0);
    EXPECT_EQ(ups->Step(), 0);
    EXPECT_EQ(ups->RxLength(), 0u);
    EXPECT_EQ(host->calls.size(), calls);  // no Reset, nothing sent

    // Idle: bytes are held but never parsed, until the next RefreshStatus.
    EXPECT_EQ(Feed(status), 1);
    EXPECT_EQ(ups->RxLength(), status.size());
    EXPECT_EQ(Feed(std::string(4097, 'x')), 0);
    EXPECT_EQ(ups->RxLength(), 0u);
}

TEST_F(PollCycle, HugeChunkLengthCannotWrapTheBound)
{
    ups->RefreshStatus();
    Feed("SOK");
    unsigned char byte = 'x';
    EXPECT_EQ(ups->process(&byte, 0xFFFFFFFFu), 0);
    EXPECT_EQ(ups->process(&byte, 0xFFFFFFFDu), 0);
    EXPECT_EQ(ups->RxLength(), 0u);
    EXPECT_EQ(ups->Step(), 0);
}

}  // namespace
