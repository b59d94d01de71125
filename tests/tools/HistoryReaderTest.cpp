// Following a history that is not there yet: waited for, as tail -F waits.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/smdhist/HistoryReader.h"

namespace {

class Awaiting : public StampsTwoHoursEast {
protected:
    std::string dir;

    void SetUp() override
    {
        StampsTwoHoursEast::SetUp();
        char name[] = "/tmp/quill-reader-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override
    {
        std::filesystem::remove_all(dir);
        StampsTwoHoursEast::TearDown();
    }
};

// The follower says it waits, and reads the history once it is made.
TEST_F(Awaiting, AHistoryNotThereYetIsReadOnceMade)
{
    const std::string path = dir + "/42.history";
    std::atomic<bool> waiting{false};
    std::string said;
    std::size_t blocks = 0;
    volatile std::sig_atomic_t stop = 0;
    HistoryReader::Listener listener;
    listener.note = [&](const std::string& text) {
        said = text;
        waiting = true;
    };
    listener.block = [&](Entry&) { stop = ++blocks == 12 ? 1 : 0; };
    HistoryReader reader(listener);
    std::thread maker([&] {
        while (!waiting) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ofstream(path + ".part", std::ios::binary)
            << history_maker::Bytes(history_maker::Twelve());
        std::filesystem::rename(path + ".part", path);
    });
    const HistoryReader::Report report = reader.Follow(path, stop);
    maker.join();
    EXPECT_EQ(said, path + " is not there yet: waiting for it");
    EXPECT_EQ(report.outcome, HistoryReader::Outcome::Read);
    EXPECT_EQ(blocks, 12u);
}

// Stopped before it is made, the history is one that could not be read.
TEST_F(Awaiting, StoppedWhileWaitingTheHistoryIsUnread)
{
    volatile std::sig_atomic_t stop = 1;
    HistoryReader reader(HistoryReader::Listener{});
    const HistoryReader::Report report = reader.Follow(dir + "/42.history", stop);
    EXPECT_EQ(report.outcome, HistoryReader::Outcome::Unreadable);
    EXPECT_EQ(report.error, "No such file or directory (waited for it until stopped)");
}

}  // namespace
