// The module's entry, its provider and the device interface's defaults.
#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "plugin/Entry.h"
#include "tests/support/RecordingController.h"

namespace {

std::shared_ptr<SMDSPDeviceProvider> UpsProvider()
{
    auto providers = get_providers();
    EXPECT_EQ(providers.size(), 1u);
    return std::dynamic_pointer_cast<SMDSPDeviceProvider>(providers.at(0));
}

TEST(Provider, EachCallHandsOutOneNewSerialDeviceProvider)
{
    const auto first = UpsProvider();
    const auto second = UpsProvider();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
}

TEST(Provider, CreateMakesIndependentUpsDevicesThatOutliveTheProvider)
{
    auto provider = UpsProvider();
    std::shared_ptr<SMDVDevice> a(provider->create());
    std::shared_ptr<SMDSPDevice> b(provider->create());
    provider.reset();

    ASSERT_NE(a.get(), b.get());
    for (SMDSPDevice* device : {static_cast<SMDSPDevice*>(a.get()), b.get()}) {
        EXPECT_EQ(device->DeviceType(), "quillmarups");
        EXPECT_EQ(device->BaudRate(), 2400);
        EXPECT_EQ(device->GetChildVDevice(0), nullptr);
        EXPECT_TRUE(device->GetAllChildVDevices().empty());
    }

    auto host = std::make_shared<RecordingController>();
    b->Init(host, 1, Json::Value());
    EXPECT_EQ(b->RefreshStatus(), 1);
    EXPECT_EQ(host->writes, std::vector<std::string>{"RS\r"});

    testing::internal::CaptureStdout();
    b->RoundDone();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(host->published.size(), 1u);
    const auto& block = host->published[0].block;
    EXPECT_EQ(std::count(block.begin(), block.begin() + 69, 0), 69);  // a new block is zero
}

TEST(Provider, DestroyingADeviceSendsAndStoresNothing)
{
    auto host = std::make_shared<RecordingController>();
    std::shared_ptr<SMDVDevice> device(UpsProvider()->create());
    device->Init(host, 1, Json::Value());
    device.reset();
    EXPECT_TRUE(host->calls.empty());
}

TEST(DeviceInterface, GetValueSaysDataIsNotReady)
{
    std::unique_ptr<SMDSPDevice> device(UpsProvider()->create());
    try {
        device->Get_Value(0, "");
        FAIL() << "Get_Value returned";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "数据未就绪");
    }
}

TEST(DeviceInterface, StringReloadPassesItsBytesAndLength)
{
    auto host = std::make_shared<RecordingController>();
    std::unique_ptr<SMDSPDevice> device(UpsProvider()->create());
    device->Init(host, 1, Json::Value());
    VDeviceInterface& root = *device;
    EXPECT_EQ(root.LoadFromCache(std::string()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(root.LoadFromCache(std::string(76, '\x01')), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(host->history.size(), 1u);
}

// An interface user that overrides nothing but the one pure operation.
class BareDevice : public VDeviceInterface {
public:
    using VDeviceInterface::LoadFromCache;
    int LoadFromCache(const unsigned char*, int) override { return 0; }
};

TEST(DeviceInterface, DefaultIoControlAnswersMinusTwoAndTouchesNothing)
{
    BareDevice device;
    int used = 17;
    EXPECT_EQ(device.DeviceIoControl(1, nullptr, 0, nullptr, 0, used), -2);
    EXPECT_EQ(used, 17);
    EXPECT_EQ(device.DataId(), 0u);
    EXPECT_FALSE(device.UseControllerDb());
}

}  // namespace
