#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "framework/SMDSPDevice.h"
#include "tests/support/RecordingController.h"
#include "tools/smdhost/AnswerCheck.h"

// Plays the bench host's part around one driver, as tools/smdhost/BenchDevice
// does, and keeps what it would explain: each command resets the bytes fed
// (the answer before kept as `before`), every chunk read is counted and kept
// up to kFedKept bytes, and each answer the driver ends is judged taken or
// refused. A taken status answer is one the data command followed; a taken
// data answer is one that published a block. `Base` is the recording
// controller the driver calls back on.
template <typename Base = RecordingController>
class ExplainingHost : public Base {
public:
    // What BenchDevice keeps of an answer's bytes for its explanation.
    static constexpr std::size_t kFedKept = 8192;

    // One answer the driver ended, with the bench host's reading of it.
    struct Judgement {
        std::string command;
        std::string fed;
        std::size_t fed_total = 0;
        std::string before;
        bool taken = false;
        std::string explained;  // answer_check::Explain, "" when it finds nothing wrong

        bool Agrees() const { return taken == explained.empty(); }
    };

    std::vector<Judgement> judged;

    // RefreshStatus, after ending a cycle still open as the host's answer
    // timeout does.
    void StartCycle(SMDSPDevice& driver)
    {
        TimeOut(driver);
        open_ = true;
        driver.RefreshStatus();
    }

    // The answer timeout: the host resets an open exchange.
    void TimeOut(SMDSPDevice& driver)
    {
        if (open_) {
            driver.Reset();
            open_ = false;
        }
    }

    // One read from the line. Outside a cycle the host never feeds it: the
    // next cycle's start discards it. Answers process()'s result, -1 unfed.
    int Read(SMDSPDevice& driver, std::string chunk)
    {
        if (!open_ || chunk.empty()) {
            return -1;
        }
        fed_total_ += chunk.size();
        fed_.append(chunk, 0, std::min(chunk.size(), kFedKept - std::min(kFedKept, fed_.size())));
        const std::size_t published = this->published.size();
        const int result = driver.process(reinterpret_cast<unsigned char*>(&chunk[0]),
                                          static_cast<unsigned int>(chunk.size()));
        if (result == 0) {
            open_ = false;
            Judge(this->published.size() > published);
            if (driver.IsProcessing()) {
                driver.Reset();
            }
        }
        return result;
    }

    int WriteSerial(SMDVDevice& device, const unsigned char* data, unsigned int len) override
    {
        const std::string command(reinterpret_cast<const char*>(data), len);
        if (command == "RD\r" && last_command_ == "RS\r") {
            Judge(true);
        }
        last_command_ = command;
        answered_.swap(fed_);
        fed_.clear();
        fed_total_ = 0;
        return Base::WriteSerial(device, data, len);
    }

private:
    void Judge(bool taken)
    {
        Judgement judgement{last_command_, fed_, fed_total_, answered_, taken, ""};
        judgement.explained =
            answer_check::Explain(last_command_, fed_, fed_total_, answered_);
        judged.push_back(judgement);
    }

    bool open_ = false;
    std::string last_command_;
    std::string fed_;
    std::string answered_;
    std::size_t fed_total_ = 0;
};
