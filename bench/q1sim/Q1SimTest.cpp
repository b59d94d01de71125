// q1sim as the side-by-side benchmark runs it: on its pseudo-terminal,
// answering as a Q1 UPS and saying each status poll it answered.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench/q1sim/Q1Answers.h"
#include "tests/e2e/Child.h"
#include "tools/common/SerialPort.h"

namespace {

using std::chrono::seconds;

class Q1Sim : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char name[] = "/tmp/quill-q1sim-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Sends a command and reads `size` bytes of answer (fewer if they stop).
    static std::string Ask(SerialPort& port, const std::string& command, std::size_t size)
    {
        port.Write(command.data(), command.size());
        std::string answer;
        char bytes[64];
        while (answer.size() < size) {
            const ssize_t got = port.Read(bytes, sizeof(bytes), std::chrono::seconds(2));
            if (got <= 0) {
                break;
            }
            answer.append(bytes, static_cast<std::size_t>(got));
        }
        return answer;
    }
};

TEST_F(Q1Sim, answers_on_its_line_and_says_each_status_poll_it_answered)
{
    const std::string link = dir + "/ups";
    Child sim({QUILL_Q1SIM, "--link", link, "--fast"}, dir + "/q1sim.err");
    const auto on_line = sim.ReadLine(seconds(10));
    ASSERT_TRUE(on_line && on_line->find("q1sim: UPS on /dev/pts/") == 0) << on_line.value_or("");
    SerialPort port;
    ASSERT_TRUE(port.Open(link, 2400)) << port.Error();

    EXPECT_EQ(Ask(port, "F\r", 22), q1::kRatings);
    EXPECT_EQ(Ask(port, "Q1\r", 47), q1::kStatus);
    EXPECT_EQ(sim.ReadLine(seconds(10)), "q1sim: polls 1");
    EXPECT_EQ(Ask(port, "QGS\r", 4), "QGS\r");
    EXPECT_EQ(Ask(port, "Q1\r", 47), q1::kStatus);
    EXPECT_EQ(sim.ReadLine(seconds(10)), "q1sim: polls 2");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(seconds(10)), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(Q1Sim, refuses_a_speed_or_a_link_it_cannot_use_with_status_2)
{
    const std::vector<std::vector<std::string>> refused = {
        {"--baud", "fast"}, {"--baud", "1234"}, {"--link", dir}, {"stray"}};
    for (const auto& arguments : refused) {
        std::vector<std::string> argv{QUILL_Q1SIM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const std::string errors = dir + "/refused.err";
        std::filesystem::remove(errors);
        Child sim(argv, errors);
        EXPECT_EQ(sim.Wait(seconds(10)), 2) << arguments.front();
        std::ifstream said(errors);
        std::string line;
        std::getline(said, line);
        EXPECT_EQ(line.rfind("q1sim: error: ", 0), 0u) << line;
    }
}

}  // namespace
