#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>

#include "framework/ttime.h"
#include "sim/UpsAnswers.h"
#include "tests/support/RecordingController.h"
#include "ups/QuillmarUPS.h"
#include "ups/QuillmarUPS_Data.h"

// What the fuzz targets share: a quiet standard output, a host that checks
// every call the driver makes back on it, and a driver that shows its block.
namespace fuzz_host {

constexpr unsigned int kDataId = 0x01020304u;
constexpr int kDataType = 5017;
constexpr unsigned int kBlockSize = sizeof(QuillmarUPS_Block_t);

// Ends the run on a broken invariant; the fuzzer keeps the input as a crash.
[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
}

inline void Expect(bool holds, const char* what)
{
    if (!holds) {
        Fail(what);
    }
}

// The module's "rvSize is" line at every round end would dominate the run.
inline void SilenceStdout()
{
    struct Discard : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
    };
    static Discard discard;
    std::cout.rdbuf(&discard);
}

// Records like the tests' controller, and checks each call as it comes: the
// driver writes only its two commands and hands over whole blocks only.
class CheckingController : public RecordingController {
public:
    int WriteSerial(SMDVDevice& device, const unsigned char* data, unsigned int len) override
    {
        Expect(len == 3, "a command of other than 3 bytes");
        Expect(std::memcmp(data, "RS\r", 3) == 0 || std::memcmp(data, "RD\r", 3) == 0,
               "a command other than RS or RD");
        return RecordingController::WriteSerial(device, data, len);
    }

    bool Publish(SMDVDevice& device, int type, const unsigned char* data, unsigned int len,
                 bool delayed) override
    {
        Expect(len == kBlockSize, "SendSP with other than 76 bytes");
        Expect(type == kDataType && !delayed, "SendSP not as undelayed data of type 5017");
        return RecordingController::Publish(device, type, data, len, delayed);
    }

    bool StoreHistory(SMDVDevice& device, const unsigned char* data, unsigned int len) override
    {
        Expect(len == kBlockSize, "SaveDeviceHistory with other than 76 bytes");
        return RecordingController::StoreHistory(device, data, len);
    }
};

// The driver, with its data block in view.
class Driver : public QuillmarUPS {
public:
    const QuillmarUPS_Block_t& Block() const { return uni_data_; }
};

// Hands the driver one chunk, as the host's receive loop does.
inline int Feed(Driver& ups, std::string bytes)
{
    return ups.process(reinterpret_cast<unsigned char*>(&bytes[0]),
                       static_cast<unsigned int>(bytes.size()));
}

// The whole status answer of a UPS on line, with the five flags from the
// low bits of `flags` (HostScript's StatusAnswer action).
inline std::string CannedStatusAnswer(std::uint8_t flags)
{
    ups_answers::Reading reading = ups_answers::OnLine();
    for (std::size_t i = 0; i < reading.flags.size(); ++i) {
        reading.flags[i] = (flags >> i) & 1;
    }
    return ups_answers::StatusAnswer(reading);
}

// The data answer of a UPS on line less its last `lines_left_out % 16 % 15`
// lines (HostScript's DataAnswer action).
inline std::string CannedDataAnswer(std::uint8_t lines_left_out)
{
    auto lines = ups_answers::DataLines(ups_answers::OnLine());
    lines.resize(lines.size() - lines_left_out % 16 % lines.size());
    return ups_answers::Join(lines);
}

inline const unsigned char* BytesOf(const QuillmarUPS_Block_t& block)
{
    return reinterpret_cast<const unsigned char*>(&block);
}

// What every round end must have handed the host: the same block published
// and stored, stamped with the round's time, and one check per UPS alarm
// whose state is its flag.
inline void ExpectRoundEnded(const CheckingController& host, const Driver& ups,
                             std::size_t rounds_before)
{
    Expect(host.published.size() == rounds_before + 1, "a round end published no block");
    Expect(host.history.size() == host.published.size(),
           "published and stored blocks differ in number");
    const auto& block = host.published.back().block;
    Expect(host.history.back() == block, "the stored block is not the published one");
    Expect(std::memcmp(block.data(), BytesOf(ups.Block()), kBlockSize) == 0,
           "the published block is not the device's");
    const ttime stamp = get_ttime(ups.LastUpdate());
    Expect(std::memcmp(block.data() + 69, &stamp, sizeof(stamp)) == 0,
           "the block is not stamped with the round's time");
    Expect(host.alarms.size() == 5 * host.published.size(), "a round without five UPS alarms");
    for (std::size_t flag = 0; flag < 5; ++flag) {
        const bool state = block[4 + flag] != 0;
        Expect(host.alarms[host.alarms.size() - 5 + flag].state == state,
               "an alarm state that is not its flag");
    }
}

}  // namespace fuzz_host
