// The device settings as the host passes them to InitSetting, and the lines
// the device writes while reading them.
#include <climits>
#include <string>

#include <json/reader.h>
#include <json/value.h>

#include "tests/support/UpsHarness.h"

namespace {

class Settings : public UpsHarness {
protected:
    // Runs InitSetting on settings given as JSON text; answers what it wrote.
    std::string Apply(const std::string& text)
    {
        const Json::Value settings = Parse(text);
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(ups->InitSetting(settings));
        return ::testing::internal::GetCapturedStdout();
    }

    static Json::Value Parse(const std::string& text)
    {
        Json::Value settings;
        Json::CharReaderBuilder builder;
        std::string errors;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &settings, &errors))
            << errors;
        return settings;
    }

    std::size_t BaseStepCalls() const
    {
        return std::count(host->calls.begin(), host->calls.end(), "settings");
    }
};

TEST_F(Settings, EmptyObjectStampsTheIdentifierAndCallsTheBaseStepOnly)
{
    EXPECT_EQ(Apply("{}"), "");
    EXPECT_EQ(ups->Mode(), 1);
    EXPECT_EQ(BaseStepCalls(), 1u);

    const auto block = PublishedNow();
    EXPECT_EQ(block[0], 0x02);
    EXPECT_EQ(block[1], 0x01);
    EXPECT_EQ(block[2], 0x00);
    EXPECT_EQ(block[3], 0x00);
}

TEST_F(Settings, AppSettingOfAnotherKindOrWithoutModeIsIgnored)
{
    for (const char* text : {R"({"appSetting": "3"})", R"({"appSetting": 3})",
                             R"({"appSetting": {}})", R"({"appSetting": {"b_mode": null}})",
                             R"({"appSetting": null, "b_mode": 3})"}) {
        EXPECT_EQ(Apply(text), "") << text;
        EXPECT_EQ(ups->Mode(), 1) << text;
    }
    EXPECT_EQ(BaseStepCalls(), 5u);
}

TEST_F(Settings, ModeIsTheLeadingIntegerOfTheValueText)
{
    const std::pair<const char*, int> cases[] = {
        {R"("3")", 3},          {"3", 3},
        {R"("3abc")", 3},       {R"(" \t-12x")", -12},
        {R"("abc")", 0},        {"true", 0},
        {"2.9", 2},             {R"("99999999999")", INT_MAX},
        {R"("-99999999999")", INT_MIN}, {R"("+2147483647")", INT_MAX},
    };
    for (const auto& [value, mode] : cases) {
        const std::string text = std::string(R"({"appSetting": {"b_mode": )") + value + "}}";
        const std::string lines = Apply(text);
        EXPECT_EQ(ups->Mode(), mode) << value;
        EXPECT_EQ(lines.substr(0, lines.find('\n')),
                  "InitSetting 258 b_mode_:" + std::to_string(mode))
            << value;
    }
}

TEST_F(Settings, ModeOtherThanThreeIgnoresThresholdSetting)
{
    EXPECT_EQ(Apply(R"({"appSetting": {"b_mode": 2},
                        "thresholdSetting": {"sok": {"SignalName": "x", "ID": 1}}})"),
              "InitSetting 258 b_mode_:2\n");
    EXPECT_TRUE(ups->AlarmIds().empty());
    EXPECT_TRUE(ups->SignalNames().empty());
}

TEST_F(Settings, ThresholdSettingWithoutMembersWritesOnlyTheHeaderLines)
{
    const std::string header = "InitSetting 258 b_mode_:3\nhere 1\nhere 2\n";
    for (const char* signals : {"5", R"("sok")", "{}", "[]"}) {
        EXPECT_EQ(Apply(std::string(R"({"appSetting": {"b_mode": "3"}, "thresholdSetting": )") +
                        signals + "}"),
                  header)
            << signals;
    }
    EXPECT_EQ(Apply(R"({"appSetting": {"b_mode": 3}})"), "InitSetting 258 b_mode_:3\nhere 1\n");
    EXPECT_TRUE(ups->AlarmIds().empty());
}

TEST_F(Settings, SignalsAreReadInNameOrderIntoBothTables)
{
    const std::string lines = Apply(R"({
        "appSetting": {"b_mode": 3},
        "thresholdSetting": {
            "sok": {"SignalName": "UPS fault", "NMAlarmID": "A;1", "ID": 12, "SignalNumber": true},
            "sbl": {"SignalName": "low", "NMAlarmID": "0803", "ID": "7", "SignalNumber": 1.5},
            "note": 42
        }})");
    EXPECT_EQ(lines,
              "InitSetting 258 b_mode_:3\n"
              "here 1\n"
              "here 2\n"
              "here note\n"
              "here sbl\n"
              "mobile:sbl:0803;7;1.5; level:0 value:0\n"
              "here sok\n"
              "mobile:sok:A;1;12;true; level:0 value:0\n");
    EXPECT_EQ(ups->AlarmIds(), (std::map<std::string, std::string>{{"sbl", "0803;7;1.5;"},
                                                                    {"sok", "A;1;12;true;"}}));
    EXPECT_EQ(ups->SignalNames(),
              (std::map<std::string, std::string>{{"sbl", "low"}, {"sok", "UPS fault"}}));
}

TEST_F(Settings, MemberWithoutAnyPartGetsThreeEmptyParts)
{
    EXPECT_EQ(Apply(R"({"appSetting": {"b_mode": 3},
                        "thresholdSetting": {"sbm": {"NMAlarmID": null}}})"),
              "InitSetting 258 b_mode_:3\nhere 1\nhere 2\nhere sbm\n"
              "258 NMAlarmID is missing\n258 ID is missing\n258 SignalNumber is missing\n"
              "mobile:sbm:;;; level:0 value:0\n");
    EXPECT_EQ(ups->AlarmIds().at("sbm"), ";;;");
    EXPECT_TRUE(ups->SignalNames().empty());
}

TEST_F(Settings, MobileLinesShowTheLevelsAndValuesTheHostRead)
{
    const std::string text = R"({"appSetting": {"b_mode": 3},
        "thresholdSetting": {"suf": {"ID": "1", "Level": 2, "Value": 187.25}}})";
    ups->Init(host, kDataId, Parse(text));
    const std::string lines = Apply(text);
    EXPECT_NE(lines.find("mobile:suf:;1;; level:2 value:187.25\n"), std::string::npos) << lines;
}

TEST_F(Settings, RepeatedCallsAddToTheTablesAndKeepModeThree)
{
    Apply(R"({"appSetting": {"b_mode": 3},
              "thresholdSetting": {"sok": {"SignalName": "first", "ID": 1},
                                   "sbp": {"SignalName": "bypass", "ID": 2}}})");
    const std::string lines =
        Apply(R"({"thresholdSetting": {"sok": {"ID": 9}, "suf": {"SignalName": "mains"}}})");
    EXPECT_EQ(lines.substr(0, 14), "here 1\nhere 2\n");
    EXPECT_EQ(ups->AlarmIds(), (std::map<std::string, std::string>{
                                   {"sbp", ";2;;"}, {"sok", ";9;;"}, {"suf", ";;;"}}));
    EXPECT_EQ(ups->SignalNames(), (std::map<std::string, std::string>{
                                      {"sbp", "bypass"}, {"sok", "first"}, {"suf", "mains"}}));
    EXPECT_EQ(BaseStepCalls(), 2u);
}

TEST_F(Settings, JsonErrorsReachTheHostAndSkipTheBaseStep)
{
    for (const char* text :
         {R"({"appSetting": {"b_mode": 3}, "thresholdSetting": [{"ID": 1}]})",
          R"({"appSetting": {"b_mode": [3]}})",
          R"({"appSetting": {"b_mode": 3}, "thresholdSetting": {"sok": {"ID": {}}}})"}) {
        const Json::Value settings = Parse(text);
        ::testing::internal::CaptureStdout();
        EXPECT_THROW(ups->InitSetting(settings), Json::LogicError) << text;
        ::testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(BaseStepCalls(), 0u);
}

}  // namespace
