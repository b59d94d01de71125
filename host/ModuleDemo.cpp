// Loads a driver module the way the controller does and runs one poll cycle
// against canned UPS answers, printing what the module hands the host.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "framework/SMDController.h"
#include "plugin/Provider.h"
#include "sim/UpsAnswers.h"
#include "ups/QuillmarUPS_Data.h"
#include "ups/UpsProtocol.h"

namespace {

class PrintingController : public SMDController {
public:
    int WriteSerial(SMDVDevice&, const unsigned char* data, unsigned int len) override
    {
        std::printf("-> serial: %.*s\\r\n", static_cast<int>(len) - 1,
                    reinterpret_cast<const char*>(data));
        return static_cast<int>(len);
    }
    bool Publish(SMDVDevice&, int type, const unsigned char* data, unsigned int len,
                 bool) override
    {
        std::printf("block published as data type %d, %u bytes\n", type, len);
        if (len == sizeof(QuillmarUPS_Block_t)) {
            Print(data);
        }
        return true;
    }
    bool CheckBool(SMDVDevice&, const BoolAlarmCheck& check) override
    {
        std::printf("alarm %u: %s %s %s (%s)\n", check.index, check.signal_key.c_str(),
                    check.alarm_id.c_str(), check.state ? "SET  " : "clear",
                    check.first_text.c_str());
        return check.state;
    }

private:
    static void Print(const unsigned char* data)
    {
        QuillmarUPS_Block_t block;
        std::memcpy(&block, data, sizeof(block));
        const auto* record = reinterpret_cast<const unsigned char*>(&block.data);
        std::printf("  data id %u, time %04u-%02u-%02u %02u:%02u:%02u\n", block.data_id,
                    block.time_stamp.year, block.time_stamp.month, block.time_stamp.day,
                    block.time_stamp.hour, block.time_stamp.minute, block.time_stamp.second);
        for (const auto& field : ups_protocol::kStatusFields) {
            std::printf("  %-4s %u\n", field.tag, record[field.offset]);
        }
        for (const auto& field : ups_protocol::kDataFields) {
            float value;
            std::memcpy(&value, record + field.offset, sizeof(value));
            std::printf("  %-4s %.1f\n", field.tag, static_cast<double>(value));
        }
    }
};

int Feed(SMDSPDevice& device, std::string bytes)
{
    return device.process(reinterpret_cast<unsigned char*>(bytes.data()),
                          static_cast<unsigned int>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE.so\n", argv[0]);
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    auto get_providers = reinterpret_cast<GetProvidersFn>(dlsym(module, kGetProvidersSymbol));
    if (get_providers == nullptr) {
        std::fprintf(stderr, "%s has no %s: %s\n", argv[1], kGetProvidersSymbol, dlerror());
        return 1;
    }
    auto provider = std::dynamic_pointer_cast<SMDSPDeviceProvider>(get_providers().at(0));
    if (provider == nullptr) {
        std::fprintf(stderr, "%s provides no serial device\n", argv[1]);
        return 1;
    }
    auto controller = std::make_shared<PrintingController>();
    std::shared_ptr<SMDSPDevice> ups(provider->create());
    ups->Init(controller, 1001, Json::Value(Json::objectValue));
    ups->InitSetting(Json::Value(Json::objectValue));
    std::printf("device type %s, %d bit/s\n", ups->DeviceType().c_str(), ups->BaudRate());

    auto reading = ups_answers::OnLine();
    reading.flags = {1, 0, 1, 0, 1};  // mains failed, on battery
    ups->RefreshStatus();
    const int status = Feed(*ups, ups_answers::StatusAnswer(reading));
    const int data = Feed(*ups, ups_answers::DataAnswer(reading));
    std::printf("process answered %d after the status answer, %d after the data answer\n",
                status, data);
    ups.reset();
    provider.reset();
    dlclose(module);
    return status == 1 && data == 0 ? 0 : 1;
}
