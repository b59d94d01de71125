// InitSetting with any JSON text that jsoncpp parses. What jsoncpp throws may
// leave InitSetting, as it reaches the host's caller by design; anything else
// that leaves it is a fault. After the settings, the device must still run a
// poll cycle under its data identifier.
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include <json/reader.h>
#include <json/value.h>

#include "fuzz/FuzzHost.h"
#include "sim/UpsAnswers.h"

using namespace fuzz_host;

namespace {

bool Parse(const std::uint8_t* data, std::size_t size, Json::Value& settings)
{
    static const std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder builder;
        builder["collectComments"] = false;
        return std::unique_ptr<Json::CharReader>(builder.newCharReader());
    }();
    const char* text = reinterpret_cast<const char*>(data);
    std::string errors;
    return reader->parse(text, text + size, &settings, &errors);
}

// InitSetting, with jsoncpp's own exceptions let through as the host sees them.
void ReadSettings(Driver& ups, const Json::Value& settings)
{
    try {
        ups.InitSetting(settings);
    } catch (const Json::Exception&) {
    } catch (const std::exception& error) {
        std::fprintf(stderr, "InitSetting threw: %s\n", error.what());
        Fail("an exception other than jsoncpp's left InitSetting");
    } catch (...) {
        Fail("an unknown exception left InitSetting");
    }
    Expect(ups.Block().data_id == kDataId, "InitSetting did not stamp the data identifier");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Json::Value settings;
    if (!Parse(data, size, settings)) {
        return 0;
    }
    auto host = std::make_shared<CheckingController>();
    auto ups = std::make_shared<Driver>();
    ups->Init(host, kDataId, settings);

    // A repeated call adds to what the first one read.
    ReadSettings(*ups, settings);
    ReadSettings(*ups, settings);

    const auto reading = ups_answers::OnLine();
    ups->RefreshStatus();
    Expect(Feed(*ups, ups_answers::StatusAnswer(reading)) == 1, "a status answer after settings");
    Expect(Feed(*ups, ups_answers::DataAnswer(reading)) == 0, "a data answer after settings");
    ExpectRoundEnded(*host, *ups, 0);
    return 0;
}
