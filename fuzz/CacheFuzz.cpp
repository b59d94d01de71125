// LoadFromCache with any bytes and any length, as a host's damaged cache or a
// host that miscounts could hand it, then a poll cycle on the reloaded device.
//
// Input: byte 0 picks the form (% 4): 0 the bytes that follow with their own
// length, 1 the bytes after a 32-bit length (LE) that is passed instead,
// 2 a null pointer with that length, 3 the std::string overload.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzHost.h"
#include "sim/UpsAnswers.h"

using namespace fuzz_host;

namespace {

enum class Form : std::uint8_t { Sized = 0, Claimed = 1, Null = 2, Text = 3 };

struct Call {
    Form form;
    std::vector<unsigned char> bytes;
    int length;
};

Call Decode(const std::uint8_t* data, std::size_t size)
{
    Call call{static_cast<Form>(data[0] % 4), {}, 0};
    std::size_t at = 1;
    if (call.form == Form::Claimed || call.form == Form::Null) {
        std::uint32_t length = 0;
        const std::size_t taken = std::min<std::size_t>(4, size - at);
        std::memcpy(&length, data + at, taken);
        at += taken;
        call.length = static_cast<int>(length);
    }
    call.bytes.assign(data + at, data + size);
    if (call.form == Form::Sized || call.form == Form::Text) {
        call.length = static_cast<int>(call.bytes.size());
    } else if (call.length == static_cast<int>(kBlockSize) && call.bytes.size() < kBlockSize) {
        // A host that passes 76 holds 76 bytes; any other length must not be read.
        call.bytes.resize(kBlockSize);
    }
    return call;
}

int Load(Driver& ups, const Call& call)
{
    if (call.form == Form::Text) {
        return ups.LoadFromCache(std::string(call.bytes.begin(), call.bytes.end()));
    }
    if (call.form == Form::Null) {
        return ups.LoadFromCache(nullptr, call.length);
    }
    // Exactly the bytes the host holds, so that a read past them shows.
    std::unique_ptr<unsigned char[]> bytes(
        new unsigned char[std::max<std::size_t>(call.bytes.size(), 1)]);
    std::copy(call.bytes.begin(), call.bytes.end(), bytes.get());
    return ups.LoadFromCache(bytes.get(), call.length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const Call call = Decode(data, size);
    auto host = std::make_shared<CheckingController>();
    auto ups = std::make_shared<Driver>();
    ups->Init(host, kDataId, Json::Value(Json::objectValue));

    const bool whole = call.form != Form::Null && call.length == static_cast<int>(kBlockSize);
    Expect(Load(*ups, call) == (whole ? 1 : 0),
           "LoadFromCache took other than 76 bytes at an address");
    if (!whole) {
        Expect(host->calls.empty() && !ups->DataValid(), "a refused block changed the device");
    } else {
        Expect(ups->DataValid(), "a reloaded block is not valid data");
        Expect(std::memcmp(host->published.back().block.data(), call.bytes.data(), 69) == 0,
               "a reloaded block was not republished as it came");
        ExpectRoundEnded(*host, *ups, 0);
    }

    // Whatever the cache held, the next poll cycle publishes the UPS's answers.
    const auto reading = ups_answers::OnLine();
    ups->RefreshStatus();
    Expect(Feed(*ups, ups_answers::StatusAnswer(reading)) == 1, "a status answer after a reload");
    Expect(Feed(*ups, ups_answers::DataAnswer(reading)) == 0, "a data answer after a reload");
    ExpectRoundEnded(*host, *ups, whole ? 1 : 0);
    const auto& block = host->published.back().block;
    Expect(std::equal(block.begin() + 4, block.begin() + 9, reading.flags.begin()),
           "flags of a reloaded block outlived a poll cycle");
    return 0;
}
