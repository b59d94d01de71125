// The simulator's faults, fed to the driver the way the bench host feeds it:
// each must do what the shared fault table says, whatever the draw; at the
// line's pace, reads gathered between wakeups act as one byte at a time.
#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "sim/UpsFaults.h"
#include "tests/support/UpsHarness.h"
#include "tools/smdhost/LineFeed.h"

using ups_faults::Answer;
using ups_faults::Fault;
using ups_faults::Outcome;

namespace {

constexpr std::size_t kHostReadSize = 512;  // what smdhost reads at once

const char* NameOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Completes: return "completes";
    case Outcome::Refused: return "refused";
    case Outcome::Unanswered: return "unanswered";
    }
    return "?";
}

// The length of the piece of `chunk` from `at` that the driver is handed next.
using Cut = std::function<std::size_t(const std::string& chunk, std::size_t at)>;

// One poll cycle on a fresh driver, whose `answer` carries the fault, each
// chunk handed over as `cut` says (by default as the host reads it at once);
// answers what the driver made of it.
Outcome Drive(Fault fault, Answer answer, unsigned int seed, const Cut& cut = nullptr)
{
    auto host = std::make_shared<RecordingController>();
    auto ups = std::make_shared<UpsProbe>();
    ups->Init(host, 1, Json::Value(Json::objectValue));
    auto feed = [&](std::string bytes) {
        return ups->process(reinterpret_cast<unsigned char*>(bytes.data()),
                            static_cast<unsigned int>(bytes.size()));
    };
    const ups_answers::Reading reading = ups_answers::OnLine();
    testing::internal::CaptureStdout();
    ups->RefreshStatus();
    if (answer == Answer::Data) {
        EXPECT_EQ(feed(ups_answers::StatusAnswer(reading)), 1);
    }
    std::mt19937 rng(seed);
    const auto lines = answer == Answer::Status ? ups_answers::StatusLines(reading)
                                                : ups_answers::DataLines(reading);
    bool ended = false;
    for (const std::string& chunk : ups_faults::Inject(fault, answer, lines, rng)) {
        for (std::size_t at = 0; at < chunk.size() && !ended;) {
            const std::size_t length = cut ? cut(chunk, at) : kHostReadSize;
            ended = feed(chunk.substr(at, length)) == 0;
            at += length;
        }
    }
    testing::internal::GetCapturedStdout();

    const bool taken = answer == Answer::Status
                           ? !ended && host->writes.back() == "RD\r"
                           : ended && host->published.size() == 1;
    if (taken) {
        return Outcome::Completes;
    }
    EXPECT_TRUE(host->published.empty());
    return ended ? Outcome::Refused : Outcome::Unanswered;
}

TEST(SimulatorFaults, EachFaultDoesToTheDriverWhatTheTableSays)
{
    for (const auto& info : ups_faults::kFaults) {
        for (const Answer answer : {Answer::Status, Answer::Data}) {
            if (!ups_faults::AppliesTo(info.fault, answer)) {
                continue;
            }
            for (unsigned int seed = 1; seed <= 20; ++seed) {
                const Outcome seen = Drive(info.fault, answer, seed);
                EXPECT_EQ(seen, info.outcome)
                    << info.name << " in the " << (answer == Answer::Status ? "status" : "data")
                    << " answer, seed " << seed << ": " << NameOf(seen) << ", not "
                    << NameOf(info.outcome);
            }
        }
    }
}

// At the line's pace the bench host lets bytes gather between its reads and
// hands each read to the driver up to each line end: the driver then does what
// it does with one byte at a time (taking an answer at its last expected line,
// so a line sent twice is left over), for every fault and reads of any size.
TEST(SimulatorFaults, ReadsGatheredAtTheLinesPaceFedUpToEachLineEndActAsByteByByte)
{
    for (const auto& info : ups_faults::kFaults) {
        for (const Answer answer : {Answer::Status, Answer::Data}) {
            for (unsigned int seed = 1; seed <= 20 && ups_faults::AppliesTo(info.fault, answer);
                 ++seed) {
                std::mt19937 reads(seed);
                std::size_t read_end = 0;
                const Cut gathered = [&](const std::string& chunk, std::size_t at) {
                    if (at == 0 || at >= read_end) {
                        read_end = at + std::uniform_int_distribution<std::size_t>(1, 64)(reads);
                    }
                    return line_feed::PieceLength(
                        reinterpret_cast<const unsigned char*>(chunk.data()) + at,
                        std::min(read_end, chunk.size()) - at);
                };
                const Cut byte = [](const std::string&, std::size_t) { return std::size_t{1}; };
                EXPECT_EQ(NameOf(Drive(info.fault, answer, seed, gathered)),
                          NameOf(Drive(info.fault, answer, seed, byte)))
                    << info.name << (answer == Answer::Status ? " status" : " data") << " seed "
                    << seed;
            }
        }
    }
}

TEST(SimulatorFaults, FaultOfTheOtherAnswerLeavesTheAnswerWhole)
{
    const auto reading = ups_answers::OnLine();
    std::mt19937 rng(1);
    EXPECT_EQ(ups_faults::Inject(Fault::Garbled, Answer::Status,
                                 ups_answers::StatusLines(reading), rng),
              std::vector<std::string>{ups_answers::StatusAnswer(reading)});
    EXPECT_EQ(ups_faults::Inject(Fault::BadDigit, Answer::Data, ups_answers::DataLines(reading),
                                 rng),
              std::vector<std::string>{ups_answers::DataAnswer(reading)});
}

TEST(SimulatorFaults, NamesAreFoundAndUnknownNamesAreNot)
{
    for (const auto& info : ups_faults::kFaults) {
        ASSERT_NE(ups_faults::FindFault(info.name), nullptr) << info.name;
        EXPECT_EQ(ups_faults::FindFault(info.name)->fault, info.fault);
    }
    EXPECT_EQ(ups_faults::FindFault("Silence"), nullptr);
    EXPECT_EQ(ups_faults::FindFault(""), nullptr);
}

}  // namespace
