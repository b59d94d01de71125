// Input as a hostile or broken UPS, host or configuration could hand it over:
// the device stays inside its contract (a result of 0 or 1, at most 4096
// bytes held, flags of 0 or 1, whole blocks only), keeps working, and its
// worst answers stay within 64 KiB of stack.
#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/UpsHarness.h"

using ups_answers::Line;

namespace {

class HostileLine : public UpsHarness {
protected:
    const ups_answers::Reading reading = ups_answers::OnLine();

    // The module's "rvSize is" lines go here; the test's own output stays.
    std::ostringstream module_lines;
    std::streambuf* standard_output = nullptr;

    void SetUp() override
    {
        UpsHarness::SetUp();
        standard_output = std::cout.rdbuf(module_lines.rdbuf());
    }
    void TearDown() override { std::cout.rdbuf(standard_output); }

    void ExpectGoodCycleAfterwards()
    {
        host->Clear();
        EXPECT_EQ(Cycle(reading), 0);
        ASSERT_EQ(host->published.size(), 1u);
        EXPECT_FLOAT_EQ(BlockFloat(host->published[0].block, 9), 230.5f);
    }
};

// Pieces of the protocol and of line noise, for chunks that come near answers.
std::string NoiseChunk(std::mt19937& rng)
{
    static const std::vector<std::string> kPieces = {
        "SOK", "SBP1", "SUF0", "SBL2", "SBM", "DVIA", "DTMB", "DVBL", "230.5", "1e39", "-",
        " ",   "\r",   "\n",   "\r\n", "\r\n\r\n", "x", std::string(1, '\0'), "\xFF",
        std::string(300, '7')};
    std::string chunk;
    for (unsigned int pieces = rng() % 12; pieces > 0; --pieces) {
        chunk += kPieces[rng() % kPieces.size()];
    }
    return chunk;
}

TEST_F(HostileLine, NoiseMixedWithAnswersKeepsEveryResultInBounds)
{
    std::mt19937 rng(5017);
    for (int call = 0; call < 3000; ++call) {
        switch (rng() % 16) {
        case 0:
            ups->RefreshStatus();
            break;
        case 1:
            ups->RefreshStatus();
            Feed(ups_answers::StatusAnswer(reading));
            break;
        case 2:
            Feed(ups_answers::DataAnswer(reading));
            break;
        default: {
            const unsigned int held = ups->RxLength();
            const std::size_t writes = host->writes.size();
            const std::string chunk = NoiseChunk(rng);
            const int result = Feed(chunk);
            ASSERT_TRUE(result == 0 || result == 1) << "call " << call;
            ASSERT_LE(ups->RxLength(), 4096u) << "call " << call;
            if (result == 0) {
                ASSERT_EQ(ups->RxLength(), 0u) << "call " << call;
            } else if (host->writes.size() == writes) {
                ASSERT_EQ(ups->RxLength(), held + chunk.size()) << "call " << call;
            }
        }
        }
    }
    EXPECT_GT(host->published.size(), 0u);
    for (const auto& publication : host->published) {
        ASSERT_EQ(publication.block.size(), 76u);
        for (int flag = 4; flag < 9; ++flag) {
            ASSERT_LE(publication.block[flag], 1);
        }
    }
    ExpectGoodCycleAfterwards();
}

TEST_F(HostileLine, NulBytesAreHeldAndCountedLikeAnyOtherByte)
{
    auto status = ups_answers::StatusLines(reading);
    status[5].value = std::string("1\0.04", 5);  // a line the driver does not read
    auto data = ups_answers::DataLines(reading);
    data[0].value = std::string("23\0" "0.5", 6);  // the value ends at the NUL

    EXPECT_EQ(Cycle(ups_answers::Join(status), ups_answers::Join(data)), 0);
    ASSERT_EQ(host->published.size(), 1u);
    EXPECT_FLOAT_EQ(BlockFloat(host->published[0].block, 9), 23.0f);
}

TEST_F(HostileLine, StatusAnswerFillingTheWholeBufferIsTaken)
{
    auto lines = ups_answers::StatusLines(reading);
    const std::size_t rest = ups_answers::Join(lines).size();
    lines[5].value += std::string(4096 - rest, '#');  // an unread line of noise
    const std::string answer = ups_answers::Join(lines);
    ASSERT_EQ(answer.size(), 4096u);

    ups->RefreshStatus();
    EXPECT_EQ(Feed(answer.substr(0, 4000)), 1);
    EXPECT_EQ(Feed(answer.substr(4000)), 1);
    EXPECT_EQ(host->writes.back(), "RD\r");
    EXPECT_EQ(Feed(ups_answers::DataAnswer(reading)), 0);
    EXPECT_EQ(host->published.size(), 1u);
}

// ---- Settings and the host's own lists -------------------------------------------

class HostileSettings : public UpsHarness {
protected:
    int ModeFor(const std::string& text)
    {
        Json::Value settings(Json::objectValue);
        settings["appSetting"]["b_mode"] = text;
        ::testing::internal::CaptureStdout();
        ups->InitSetting(settings);
        ::testing::internal::GetCapturedStdout();
        return ups->Mode();
    }
};

TEST_F(HostileSettings, ModeTextsAtTheEdgesReadAsAtoiWouldWithinTheIntRange)
{
    const std::pair<std::string, int> cases[] = {
        {"", 0},
        {" \t\n\v\f\r", 0},
        {"+", 0},
        {"-", 0},
        {"\x01 3", 0},  // a control byte below tab is no white space
        {"\v\f7", 7},
        {"0003", 3},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {std::string(300, '9'), INT_MAX},
    };
    for (const auto& [text, mode] : cases) {
        EXPECT_EQ(ModeFor(text), mode) << '"' << text << '"';
    }
}

// The host keeps a name in its list of analog values before it has read the
// value; the round skips that name instead of checking a value it lacks.
class UpsWithUnreadAnalog : public QuillmarUPS {
public:
    void ListAnalogWithoutValue(const std::string& name) { ao_names_.push_back(name); }
};

TEST(HostLists, AnalogNameWithoutAValueIsLeftOutOfTheRoundChecks)
{
    auto host = std::make_shared<RecordingController>();
    auto ups = std::make_shared<UpsWithUnreadAnalog>();
    ups->Init(host, 258, Json::Value(Json::objectValue));
    ups->SetAnalogValue("ia", 1.0f);
    ups->ListAnalogWithoutValue("unread");
    ups->SetAnalogValue("ib", 2.0f);

    ::testing::internal::CaptureStdout();
    ups->RoundDone();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(host->analog_reports, (std::vector<std::string>{"ia", "ib"}));
    EXPECT_EQ(host->threshold_checks, (std::vector<std::string>{"ia", "ib"}));
    EXPECT_EQ(host->history.size(), 1u);
}

// ---- Stack use -------------------------------------------------------------------

constexpr unsigned char kPaint = 0xA5;
constexpr std::size_t kStackBound = 64 * 1024;

// The deepest a job reaches into its stack, measured on a thread whose stack
// is painted first: the bytes that it never touched still hold the paint.
// Reads on any platform, including those whose threads take 128 KiB at least.
template <typename Job>
std::size_t StackUsedBy(Job job)
{
    const std::size_t size = std::max<std::size_t>(1024 * 1024, PTHREAD_STACK_MIN);
    void* stack = nullptr;
    if (posix_memalign(&stack, 4096, size) != 0) {
        ADD_FAILURE() << "no memory for the stack";
        return SIZE_MAX;
    }
    std::fill_n(static_cast<unsigned char*>(stack), size, kPaint);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack, size);
    auto run = [](void* argument) -> void* {
        (*static_cast<Job*>(argument))();
        return nullptr;
    };
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, run, &job) == 0;
    if (started) {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attributes);
    const auto* bytes = static_cast<const unsigned char*>(stack);
    const std::size_t untouched =
        static_cast<std::size_t>(std::find_if(bytes, bytes + size,
                                              [](unsigned char b) { return b != kPaint; }) -
                                 bytes);
    std::free(stack);
    EXPECT_TRUE(started);
    return size - untouched;
}

// Lines whose runs are as long as the driver accepts (128 bytes), values that
// still convert, so that every pattern and conversion runs at its longest.
std::string LongestAcceptedDataAnswer()
{
    auto lines = ups_answers::DataLines(ups_answers::OnLine());
    for (Line& line : lines) {
        line.value += std::string(128 - line.tag.size() - line.value.size(), '0');
    }
    return ups_answers::Join(lines);
}

TEST_F(HostileLine, WorstAnswersStayWithinSixtyFourKiBOfStack)
{
    std::vector<int> results;
    const std::string status = ups_answers::StatusAnswer(reading);
    const std::size_t used = StackUsedBy([&] {
        ups->RefreshStatus();
        std::string no_tags = "SOK" + std::string(4096 - 3 - 14, '1');
        for (int line = 0; line < 7; ++line) {
            no_tags += "\r\n";
        }
        results.push_back(Feed(no_tags));
        ups->RefreshStatus();
        results.push_back(Feed(status));
        results.push_back(Feed(LongestAcceptedDataAnswer()));
        ups->RefreshStatus();
        results.push_back(Feed(status));
        std::string runs;
        for (int line = 0; line < 15; ++line) {
            runs += "DVIA" + std::string(124, '5') + "\r";
            runs += std::string(128, '5') + "\n\r\n";
        }
        results.push_back(Feed(runs));
        ups->RefreshStatus();
        results.push_back(Feed(status));
        std::string one_line = "DVIA" + std::string(4096 - 4 - 30, '5');
        for (int line = 0; line < 15; ++line) {
            one_line += "\r\n";
        }
        results.push_back(Feed(one_line));
    });
    EXPECT_EQ(results, (std::vector<int>{0, 1, 0, 1, 0, 1, 0}));
    EXPECT_FLOAT_EQ(BlockFloat(host->published.at(0).block, 9), 230.5f);
    RecordProperty("stack_bytes", static_cast<int>(used));
    EXPECT_LT(used, kStackBound);
}

}  // namespace
