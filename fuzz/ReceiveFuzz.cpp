// The receive path as the host drives it: a script of RefreshStatus, received
// chunks of any length, the host's own Reset and cache reloads (HostScript.h),
// with the driver's promises checked after every call.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzHost.h"
#include "fuzz/HostScript.h"

using namespace fuzz_host;
using host_script::Action;
using host_script::Step;

namespace {

constexpr unsigned int kRxBufferSize = SMDSPDevice::kRxBufferSize;

struct Session {
    std::shared_ptr<CheckingController> host = std::make_shared<CheckingController>();
    std::shared_ptr<Driver> ups = std::make_shared<Driver>();
};

// One call of process, and what it must have done given the state before.
void Receive(Session& session, unsigned char* data, unsigned int len)
{
    Driver& ups = *session.ups;
    CheckingController& host = *session.host;
    const QuillmarUPS_Block_t before = ups.Block();
    const int step = ups.Step();
    const unsigned int held = ups.RxLength();
    const std::size_t writes = host.writes.size();
    const std::size_t rounds = host.published.size();
    const std::size_t calls = host.calls.size();

    int result = -1;
    try {
        result = ups.process(data, len);
    } catch (...) {
        Fail("an exception left process");
    }

    Expect(result == 0 || result == 1, "process answered other than 0 or 1");
    Expect(ups.RxLength() <= kRxBufferSize, "more than 4096 bytes held");
    Expect(ups.Block().data_id == before.data_id, "the receive path changed the data id");
    if (len > kRxBufferSize - held) {
        Expect(result == 0 && ups.Step() == 0 && ups.RxLength() == 0,
               "a chunk past the buffer did not empty it and end the exchange");
        Expect(host.calls.size() == calls, "an overflow called the host");
        return;
    }
    if (result == 0) {
        Expect(ups.RxLength() == 0, "an ended exchange kept bytes");
    }

    const auto* old_flags = reinterpret_cast<const std::uint8_t*>(&before.data);
    const auto* flags = reinterpret_cast<const std::uint8_t*>(&ups.Block().data);
    for (std::size_t i = 0; i < 5; ++i) {
        Expect(flags[i] == old_flags[i] || flags[i] <= 1, "a parse wrote a flag other than 0 or 1");
    }

    if (host.writes.size() != writes) {
        Expect(host.writes.size() == writes + 1 && host.writes.back() == "RD\r",
               "a status answer sent other than one RD");
        Expect(step == 2 && ups.Step() == 3 && result == 1 && ups.RxLength() == 0,
               "the data command went out outside a taken status answer");
        for (std::size_t i = 0; i < 5; ++i) {
            Expect(flags[i] <= 1, "a taken status answer left a flag other than 0 or 1");
        }
    } else if (result == 1) {
        Expect(ups.RxLength() == held + len, "bytes of an open exchange were lost");
        Expect(ups.Step() == step, "the step changed without an answer taken");
    }

    if (host.published.size() != rounds) {
        Expect(step == 3 && result == 0, "a block published outside a taken data answer");
        ExpectRoundEnded(host, ups, rounds);
    }
}

// A chunk in its own allocation of exactly its size, so that a read past it shows.
void ReceiveCopy(Session& session, const std::vector<unsigned char>& bytes)
{
    if (bytes.empty()) {
        Receive(session, nullptr, 0);
        return;
    }
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), chunk.get());
    Receive(session, chunk.get(), static_cast<unsigned int>(bytes.size()));
}

void ReceiveText(Session& session, const std::string& text)
{
    ReceiveCopy(session, std::vector<unsigned char>(text.begin(), text.end()));
}

void LoadCache(Session& session, const Step& step)
{
    Driver& ups = *session.ups;
    CheckingController& host = *session.host;
    const std::size_t rounds = host.published.size();
    const std::size_t calls = host.calls.size();
    const auto form = static_cast<host_script::CacheForm>(step.parameter % 4);
    const bool null = form == host_script::CacheForm::Null;

    // Exactly the bytes the host holds, so that a read past them shows.
    std::unique_ptr<unsigned char[]> block(
        new unsigned char[std::max<std::size_t>(step.bytes.size(), 1)]);
    std::copy(step.bytes.begin(), step.bytes.end(), block.get());
    int result = -1;
    if (form == host_script::CacheForm::Text) {
        result = ups.LoadFromCache(std::string(step.bytes.begin(), step.bytes.end()));
    } else {
        result = ups.LoadFromCache(null ? nullptr : block.get(), step.length);
    }

    const bool whole = !null && step.length == static_cast<int>(kBlockSize);
    Expect(result == (whole ? 1 : 0), "LoadFromCache took other than 76 bytes at an address");
    if (!whole) {
        Expect(host.calls.size() == calls, "a refused block called the host");
        return;
    }
    Expect(std::memcmp(host.published.back().block.data(), step.bytes.data(), 69) == 0,
           "a reloaded block was not republished as it came");
    ExpectRoundEnded(host, ups, rounds);
}

void Perform(Session& session, Step& step)
{
    Driver& ups = *session.ups;
    switch (step.action) {
    case Action::Refresh:
        Expect(ups.RefreshStatus() == 1, "RefreshStatus answered other than 1");
        Expect(ups.Step() == 2 && session.host->writes.back() == "RS\r",
               "RefreshStatus did not send RS and await the status answer");
        break;
    case Action::Chunk:
    case Action::LongChunk:
        ReceiveCopy(session, step.bytes);
        break;
    case Action::EmptyChunk: {
        unsigned char unused = 0;
        Receive(session, (step.parameter & 1) != 0 ? nullptr : &unused, 0);
        break;
    }
    case Action::Cache:
        LoadCache(session, step);
        break;
    case Action::HostReset:
        ups.Reset();
        break;
    case Action::StatusAnswer:
        ReceiveText(session, CannedStatusAnswer(step.parameter));
        break;
    case Action::DataAnswer:
        ReceiveText(session, CannedDataAnswer(step.parameter));
        break;
    }
    Expect(ups.RxLength() <= kRxBufferSize, "more than 4096 bytes held");
    const int now = ups.Step();
    Expect(now == 0 || now == 2 || now == 3, "a step other than 0, 2 or 3");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Session session;
    session.ups->Init(session.host, kDataId, Json::Value(Json::objectValue));
    host_script::Reader script(data, size);
    Step step;
    while (script.Next(step)) {
        Perform(session, step);
    }
    return 0;
}
