// The receive path must run on the small stacks of a host's receive threads,
// whatever arrives on the line.
#include <pthread.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "tests/support/UpsHarness.h"

namespace {

constexpr std::size_t kSmallStack = 64 * 1024;

// Runs a job on a thread with a 64 KiB stack, or the least stack the platform
// allows where that is more (128 KiB on MIPS), and waits for it.
template <typename Job>
void OnSmallStack(Job job)
{
    const std::size_t size = std::max<std::size_t>(kSmallStack, PTHREAD_STACK_MIN);
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, size), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<Job*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// Answers with the step's line count, built to make the matcher work hardest:
// one 4 KiB line after a tag; lines as long as the driver accepts; and 4 KiB
// of such runs split by lone CRs, which end no line.
std::vector<std::string> WorstAnswers(unsigned int lines, const std::string& tag)
{
    std::string ends;
    for (unsigned int i = 0; i < lines; ++i) {
        ends += "\r\n";
    }
    const std::string one_line = tag + std::string(4096 - ends.size() - tag.size(), '7') + ends;

    std::string capped;
    for (unsigned int i = 0; i < lines; ++i) {
        capped += tag + std::string(120, '9') + "\r\n";
    }

    std::string split = tag;
    while (split.size() + 128 + ends.size() <= 4096) {
        split += std::string(127, '5') + "\r";
    }
    split += std::string(4096 - ends.size() - split.size(), '5') + ends;
    return {one_line, capped, split};
}

class StackBound : public UpsHarness {};

TEST_F(StackBound, WorstAnswersInEveryStepRunOnA64KiBStack)
{
    std::vector<int> results;
    OnSmallStack([&] {
        testing::internal::CaptureStdout();
        for (const std::string& answer : WorstAnswers(7, "SOK")) {
            ups->RefreshStatus();
            results.push_back(Feed(answer));
        }
        for (const std::string& answer : WorstAnswers(15, "DVIA")) {
            ups->RefreshStatus();
            Feed(ups_answers::StatusAnswer(ups_answers::OnLine()));
            results.push_back(Feed(answer));
        }
        ups->RefreshStatus();
        results.push_back(Feed(std::string(4096, '\n')));
        testing::internal::GetCapturedStdout();
    });
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 0, 0, 0, 1}));
}

}  // namespace
