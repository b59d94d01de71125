// The receive path must run on the small stacks of a host's receive threads,
// whatever arrives on the line.
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/UpsHarness.h"

namespace {

constexpr std::size_t kSmallStack = 64 * 1024;

#if defined(__SANITIZE_ADDRESS__)
#define QUILL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILL_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(QUILL_ADDRESS_SANITIZER)
// AddressSanitizer does not follow context switches; its builds run the job
// on a thread with the small stack instead (x86-64 allows one of 64 KiB).
template <typename Job>
void OnSmallStack(Job job)
{
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, kSmallStack), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<Job*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}
#else
std::function<void()>* g_small_stack_job = nullptr;

void RunSmallStackJob() { (*g_small_stack_job)(); }

// Runs a job on a 64 KiB stack with a guard page below it, so that going past
// it faults at once. A context switch rather than a thread, because glibc
// refuses thread stacks under 128 KiB on MIPS.
template <typename Job>
void OnSmallStack(Job job)
{
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* region = mmap(nullptr, page + kSmallStack, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    ASSERT_EQ(mprotect(region, page, PROT_NONE), 0);  // the stack grows down onto it

    std::function<void()> wrapped = job;
    g_small_stack_job = &wrapped;
    ucontext_t caller;
    ucontext_t small;
    ASSERT_EQ(getcontext(&small), 0);
    small.uc_stack.ss_sp = static_cast<char*>(region) + page;
    small.uc_stack.ss_size = kSmallStack;
    small.uc_link = &caller;
    makecontext(&small, RunSmallStackJob, 0);
    ASSERT_EQ(swapcontext(&caller, &small), 0);
    g_small_stack_job = nullptr;
    munmap(region, page + kSmallStack);
}
#endif

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
