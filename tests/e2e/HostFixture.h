#pragma once

// smdhost and upssim run as a user runs them, each in its own process over a
// pseudo-terminal pair, and what smdhost tells read from its --json events.
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>

#include "tests/e2e/Child.h"
#include "tests/e2e/ReadBack.h"

#if !defined(QUILL_SMDHOST) || !defined(QUILL_UPSSIM) || !defined(QUILL_MODULE)
#error "QUILL_SMDHOST, QUILL_UPSSIM and QUILL_MODULE name the built programs and module"
#endif

namespace e2e {

using std::chrono::seconds;
using Events = std::vector<Json::Value>;

constexpr unsigned int kDataId = 42;
constexpr std::size_t kBlockSize = 76;

inline Events Of(const Events& events, const std::string& kind)
{
    Events found;
    for (const Json::Value& event : events) {
        if (event["event"].asString() == kind) {
            found.push_back(event);
        }
    }
    return found;
}

inline std::vector<unsigned int> Cycles(const Events& events)
{
    std::vector<unsigned int> cycles;
    for (const Json::Value& event : events) {
        cycles.push_back(event["cycle"].asUInt());
    }
    return cycles;
}

// A test of what happens at a line's pace needs a host that keeps pace with
// the line: under ThreadSanitizer it may not.
constexpr bool SlowedDown()
{
#if defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Each event as "kind" or "kind cycle", for checking their order.
inline std::vector<std::string> Story(const Events& events)
{
    std::vector<std::string> story;
    for (const Json::Value& event : events) {
        std::string line = event["event"].asString();
        if (event.isMember("cycle")) {
            line += " " + event["cycle"].asString();
        }
        story.push_back(line);
    }
    return story;
}

class EndToEnd : public ::testing::Test {
protected:
    std::string dir;
    std::string line;   // where upssim links its pseudo-terminal
    std::string state;  // the host's state folder
    std::unique_ptr<Child> sim;

    void SetUp() override
    {
        char name[] = "/tmp/quill-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        line = dir + "/ups";
        state = dir + "/state";
    }

    void TearDown() override
    {
        sim.reset();
        // Under ThreadSanitizer a report in either program fails the test.
        for (const char* err : {"/smdhost.err", "/upssim.err"}) {
            EXPECT_EQ(ReadFile(dir + err).find("ThreadSanitizer"), std::string::npos)
                << ReadFile(dir + err);
        }
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ignored)) {
            if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::remove_all(dir);
    }

    // Starts upssim, unpaced unless `paced`, with the scenario at `link`;
    // waits until it is on the line.
    std::unique_ptr<Child> StartSimAt(const std::string& link, const std::string& scenario,
                                      std::vector<std::string> extra = {}, bool paced = false)
    {
        const std::string file = link + ".json";
        std::ofstream(file) << scenario;
        std::vector<std::string> argv{QUILL_UPSSIM, "--link", link, "--scenario", file};
        if (!paced) {
            argv.push_back("--fast");
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto started = std::make_unique<Child>(argv, dir + "/upssim.err");
        for (auto said = started->ReadLine(seconds(10)); said;
             said = started->ReadLine(seconds(10))) {
            if (said->rfind("upssim: UPS on", 0) == 0) {
                return started;
            }
        }
        ADD_FAILURE() << "upssim did not come up: " << ReadFile(dir + "/upssim.err");
        return started;
    }

    void StartSim(const std::string& scenario) { sim = StartSimAt(line, scenario); }

    // A configuration of devices on the simulated line, polled quickly, each
    // with `answer_timeout` unless it names its own.
    std::string WriteConfig(double answer_timeout, Json::Value devices = Json::Value())
    {
        if (devices.isNull()) {
            devices[0]["data_id"] = kDataId;
        }
        for (Json::Value& device : devices) {
            if (!device.isMember("port")) {
                device["port"] = line;
            }
            if (!device.isMember("poll_interval")) {
                device["poll_interval"] = 0.02;
            }
            if (!device.isMember("answer_timeout")) {
                device["answer_timeout"] = answer_timeout;
            }
        }
        Json::Value config;
        config["module"] = QUILL_MODULE;
        config["state_dir"] = state;
        config["devices"] = devices;
        const std::string path = dir + "/smdhost.json";
        std::ofstream(path) << Json::writeString(Json::StreamWriterBuilder(), config);
        return path;
    }

    std::unique_ptr<Child> StartHost(const std::string& config, const std::string& cycles,
                                     std::vector<std::string> extra = {},
                                     const std::function<void()>& in_child = {})
    {
        std::vector<std::string> argv{QUILL_SMDHOST, "--json", "--config", config};
        if (!cycles.empty()) {
            argv.insert(argv.end(), {"--cycles", cycles});
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        return std::make_unique<Child>(argv, dir + "/smdhost.err", in_child);
    }

    // Reads what a finished smdhost said; answers its exit status.
    static int Finish(Child& host, Events& events)
    {
        const int status = host.Wait(seconds(40));
        for (auto said = host.ReadLine(seconds(1)); said; said = host.ReadLine(seconds(1))) {
            events.push_back(ParseJson(*said));
        }
        return status;
    }

    // Runs smdhost to its end; answers its exit status and fills its events.
    int RunHost(const std::string& config, unsigned int cycles, Events& events,
                std::vector<std::string> extra = {})
    {
        auto host = StartHost(config, std::to_string(cycles), std::move(extra));
        return Finish(*host, events);
    }

    // Reads the events of a running smdhost until one of `kind` (and, if
    // given, `reason`) comes.
    static bool ReadUntil(Child& host, Events& events, const std::string& kind,
                          const std::string& reason = "")
    {
        for (auto said = host.ReadLine(seconds(20)); said; said = host.ReadLine(seconds(20))) {
            events.push_back(ParseJson(*said));
            const Json::Value& event = events.back();
            if (event["event"].asString() == kind &&
                (reason.empty() || event["reason"].asString() == reason)) {
                return true;
            }
        }
        return false;
    }

    std::string History() const { return ReadFile(state + "/42.history"); }
    std::string Errors() const { return ReadFile(dir + "/smdhost.err"); }
};

}  // namespace e2e
