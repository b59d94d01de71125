#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <json/value.h>

#include "sim/UpsAnswers.h"
#include "tests/support/RecordingController.h"
#include "ups/QuillmarUPS.h"

// The driver with read access to its own tables, for the checks that only
// the device itself can show.
class UpsProbe : public QuillmarUPS {
public:
    int Mode() const { return b_mode_; }
    const std::map<std::string, std::string>& AlarmIds() const { return alarm_ids_; }
    const std::map<std::string, std::string>& SignalNames() const { return signal_names_; }
    void SetCheckIndex(unsigned short index) { check_index_ = index; }
};

// Plays the host around one driver: initialises it with a recording
// controller and feeds it bytes the way the host's receive loop does.
class UpsHarness : public ::testing::Test {
protected:
    static constexpr unsigned int kDataId = 258;

    std::shared_ptr<RecordingController> host = std::make_shared<RecordingController>();
    std::shared_ptr<UpsProbe> ups = std::make_shared<UpsProbe>();

    void SetUp() override { ups->Init(host, kDataId, Json::Value(Json::objectValue)); }

    int Feed(const std::string& bytes)
    {
        std::string copy = bytes;
        return ups->process(reinterpret_cast<unsigned char*>(copy.data()),
                            static_cast<unsigned int>(copy.size()));
    }

    // A whole poll cycle with the given answers; answers process's last result.
    int Cycle(const std::string& status, const std::string& data)
    {
        ups->RefreshStatus();
        if (Feed(status) != 1) {
            return 0;
        }
        return Feed(data);
    }

    int Cycle(const ups_answers::Reading& reading)
    {
        return Cycle(ups_answers::StatusAnswer(reading), ups_answers::DataAnswer(reading));
    }

    // The bytes of a 76-byte block as the host would store it.
    static std::string BlockWith(std::uint32_t data_id, const std::uint8_t (&flags)[5],
                                 float value)
    {
        std::string block(76, '\0');
        std::memcpy(&block[0], &data_id, 4);
        std::memcpy(&block[4], flags, 5);
        for (int offset = 9; offset < 69; offset += 4) {
            std::memcpy(&block[offset], &value, 4);
        }
        return block;
    }

    // The block that the next RoundDone publishes, as the host receives it.
    RecordingController::Bytes PublishedNow()
    {
        ups->RoundDone();
        return host->published.back().block;
    }
};

// A float of a block, read from its four bytes wherever it lies.
inline float BlockFloat(const RecordingController::Bytes& block, std::size_t offset)
{
    float value;
    std::memcpy(&value, block.data() + offset, sizeof(value));
    return value;
}
