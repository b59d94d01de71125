// What one UPS device costs the controller in memory on this target, for
// docs/board.md: the object the host owns, the heap the module keeps for it,
// and that a poll cycle, once the first is done, keeps nothing more. Made by
// the provider and driven through the host's calls, with the stand-in host.
// Writes "NAME VALUE" lines to REPORT; exits 1 if a cycle keeps memory.
// Usage: device_memory REPORT
#include <cstdio>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

#include <json/value.h>

#include "bench/AllocationCounter.h"
#include "framework/SMDController.h"
#include "plugin/Entry.h"
#include "sim/UpsAnswers.h"
#include "ups/QuillmarUPS.h"

namespace {

// Five signals as a controller configures them, in the given mode.
Json::Value Settings(int mode)
{
    Json::Value settings;
    settings["appSetting"]["b_mode"] = mode;
    for (const char* key : {"sok", "sbp", "suf", "sbl", "sbm"}) {
        Json::Value& signal = settings["thresholdSetting"][key];
        signal["SignalName"] = std::string("signal ") + key;
        signal["NMAlarmID"] = "08001";
        signal["ID"] = 1001;
        signal["SignalNumber"] = 3;
        signal["Level"] = 2;
        signal["Value"] = 1.0;
    }
    return settings;
}

std::size_t LiveBytes() { return CurrentAllocations().live_bytes; }

// Takes the driver's diagnostic lines without keeping them on the heap.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

// One device from the module's provider, initialised by the host.
struct Device {
    std::shared_ptr<SMDController> host = std::make_shared<SMDController>();
    std::shared_ptr<SMDSPDevice> ups;

    Device()
    {
        auto provider = std::dynamic_pointer_cast<SMDSPDeviceProvider>(get_providers().at(0));
        ups.reset(provider->create());
        ups->Init(host, 1001, Json::Value(Json::objectValue));
    }

    void Cycle()
    {
        std::string status = ups_answers::StatusAnswer(ups_answers::OnLine());
        std::string data = ups_answers::DataAnswer(ups_answers::OnLine());
        ups->RefreshStatus();
        ups->process(reinterpret_cast<unsigned char*>(&status[0]), static_cast<unsigned int>(status.size()));
        ups->process(reinterpret_cast<unsigned char*>(&data[0]), static_cast<unsigned int>(data.size()));
    }
};

// The heap a device holds after its settings in MODE and a first cycle.
std::size_t HeldAfterSettings(int mode)
{
    const Json::Value settings = Settings(mode);
    const std::size_t before = LiveBytes();
    Device device;
    device.ups->InitSetting(settings);
    device.Cycle();
    return LiveBytes() - before;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: device_memory REPORT\n");
        return 2;
    }
    // The driver's diagnostic lines are not the report's.
    NullBuffer discard;
    std::streambuf* console = std::cout.rdbuf(&discard);

    const std::size_t mode1 = HeldAfterSettings(1);
    const std::size_t mode3 = HeldAfterSettings(3);
    Device device;
    device.ups->InitSetting(Settings(3));
    device.Cycle();
    const std::size_t after_first = LiveBytes();
    for (int cycle = 0; cycle < 10; ++cycle) {
        device.Cycle();
    }
    const std::size_t kept_by_cycles = LiveBytes() - after_first;
    std::cout.rdbuf(console);

    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr) {
        std::perror(argv[1]);
        return 2;
    }
    std::fprintf(report, "object %zu\nhost-part %zu\nreceive-buffer %u\nmodule-part %zu\n",
                 sizeof(QuillmarUPS), sizeof(SMDSPDevice), SMDSPDevice::kRxBufferSize,
                 sizeof(QuillmarUPS) - sizeof(SMDSPDevice));
    std::fprintf(report, "mode-3-tables %zu\nkept-by-ten-cycles %zu\n", mode3 - mode1, kept_by_cycles);
    std::fclose(report);
    if (kept_by_cycles != 0) {
        std::fprintf(stderr, "device_memory: ten poll cycles kept %zu bytes\n", kept_by_cycles);
        return 1;
    }
    return 0;
}
