// The built module, loaded the way the controller loads it.
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "plugin/Provider.h"
#include "sim/UpsAnswers.h"
#include "tests/support/RecordingController.h"

#ifndef QUILL_MODULE_PATH
#error "QUILL_MODULE_PATH names the built module"
#endif

namespace {

class LoadedModule : public ::testing::Test {
protected:
    void* handle = nullptr;

    void SetUp() override
    {
        handle = dlopen(QUILL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (handle != nullptr) {
            dlclose(handle);
        }
    }

    int Feed(SMDSPDevice& device, std::string bytes)
    {
        return device.process(reinterpret_cast<unsigned char*>(bytes.data()),
                              static_cast<unsigned int>(bytes.size()));
    }
};

TEST_F(LoadedModule, FullCycleThroughTheExportedEntryPublishesTheExactBlock)
{
    auto get_providers = reinterpret_cast<GetProvidersFn>(dlsym(handle, kGetProvidersSymbol));
    ASSERT_NE(get_providers, nullptr) << dlerror();

    auto providers = get_providers();
    ASSERT_EQ(providers.size(), 1u);
    auto provider = std::dynamic_pointer_cast<SMDSPDeviceProvider>(providers[0]);
    ASSERT_NE(provider, nullptr);

    std::shared_ptr<SMDSPDevice> idle(provider->create());
    std::shared_ptr<SMDSPDevice> ups(provider->create());
    ASSERT_NE(idle, ups);
    providers.clear();
    provider.reset();

    auto host = std::make_shared<RecordingController>();
    ASSERT_TRUE(ups->Init(host, 0x01020304u, Json::Value(Json::objectValue)));
    testing::internal::CaptureStdout();
    ups->InitSetting(Json::Value(Json::objectValue));

    auto reading = ups_answers::OnLine();
    reading.flags = {1, 0, 1, 0, 1};
    ASSERT_EQ(ups->RefreshStatus(), 1);
    ASSERT_EQ(Feed(*ups, ups_answers::StatusAnswer(reading)), 1);
    ASSERT_EQ(Feed(*ups, ups_answers::DataAnswer(reading)), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 0\n");

    EXPECT_EQ(host->writes, (std::vector<std::string>{"RS\r", "RD\r"}));
    ASSERT_EQ(host->published.size(), 1u);
    const auto& block = host->published[0].block;
    ASSERT_EQ(block.size(), 76u);

    std::uint8_t expected[69] = {0x04, 0x03, 0x02, 0x01, 1, 0, 1, 0, 1};
    // Record order: dvia..dvbt, dtmb, dvbn, dvbl; the answer lists DVBN first.
    const int answer_slot[15] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 12, 14};
    for (int field = 0; field < 15; ++field) {
        std::memcpy(expected + 9 + 4 * field, &reading.values[answer_slot[field]], 4);
    }
    for (int byte = 0; byte < 69; ++byte) {
        EXPECT_EQ(block[byte], expected[byte]) << "block byte " << byte;
    }
    float dvbn;
    float dtmb;
    std::memcpy(&dvbn, block.data() + 61, 4);
    std::memcpy(&dtmb, block.data() + 57, 4);
    EXPECT_FLOAT_EQ(dvbn, 13.6f);
    EXPECT_FLOAT_EQ(dtmb, 25.0f);
    EXPECT_EQ(host->history, std::vector<RecordingController::Bytes>{block});
    EXPECT_EQ(host->alarms.size(), 5u);
    EXPECT_EQ(idle->RxLength(), 0u);
}

TEST_F(LoadedModule, OnlyTheEntryIsExported)
{
    EXPECT_NE(dlsym(handle, "get_providers"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN11QuillmarUPS7processEPhj"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN11QuillmarUPSC1Ev"), nullptr);
}

}  // namespace
