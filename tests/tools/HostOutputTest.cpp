// What the bench host's outputs tell a person and a script: every failed
// cycle's reason reaches the full text (repeats counted on one line), blocks
// are shown in the record's order, and JSON stays JSON for values that are no
// finite number, written as the history tool writes them.
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/common/DataBlock.h"
#include "tools/smdhost/BriefOutput.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/FailureReport.h"
#include "tools/smdhost/JsonOutput.h"
#include "tools/smdhost/TextOutput.h"

namespace {

// Keeps what the text output would show of each event.
class TextLines : public EventOutput {
public:
    void Take(const events::Event& event) override
    {
        const std::string text = TextOutput::Text(event);
        if (!text.empty()) {
            lines.push_back(text);
        }
    }
    std::vector<std::string> lines;
};

// A step of a device's run: a failure with its reason and detail, or "ok".
struct Step {
    const char* reason;
    const char* detail;
};
constexpr Step kOk{"ok", ""};
constexpr Step kSilent{"timeout", "nothing came"};
constexpr Step kRefused{"refused", "line 3 is no number"};

// The text a person reads of a run of cycles 1, 2, ... as `steps` say.
std::vector<std::string> TextOf(const std::vector<Step>& steps)
{
    auto text = std::make_shared<TextLines>();
    {
        EventLog log;
        log.AddOutput(text, EventLog::Stream::Events);
        const EventLog::Device device{"ups", 1};
        FailureReport report(log, device);
        unsigned int cycle = 0;
        for (const Step& step : steps) {
            ++cycle;
            if (std::string(step.reason) == "ok") {
                report.Completed();
            } else {
                report.Failed(cycle, step.reason, step.detail);
            }
        }
        report.Finish();
        log.Finish();
    }
    return text->lines;
}

const std::string kStale =
    "data stale: 3 cycles failed in a row; a line a minute says how long the failures go on";

TEST(FailureText, EveryFailedCyclesReasonIsShownRepeatsCountedOnOneLine)
{
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> lines;
    } cases[] = {
        {"a silent line to the end of the run",
         {kOk, kSilent, kSilent, kSilent, kSilent, kSilent, kSilent, kSilent},
         {"cycle 2 failed (timeout): nothing came", "cycle 3 failed (timeout): nothing came",
          "cycle 4 failed (timeout): nothing came", kStale,
          "cycles 5 to 8 failed the same way (timeout): nothing came"}},
        {"one repeat, then another reason, then recovery",
         {kSilent, kSilent, kSilent, kSilent, kRefused, kRefused, kOk},
         {"cycle 1 failed (timeout): nothing came", "cycle 2 failed (timeout): nothing came",
          "cycle 3 failed (timeout): nothing came", kStale,
          "cycle 4 failed the same way (timeout): nothing came",
          "cycle 5 failed (refused): line 3 is no number",
          "cycle 6 failed the same way (refused): line 3 is no number"}},
        {"reasons that take turns are each shown",
         {kSilent, kRefused, kSilent, kRefused, kSilent},
         {"cycle 1 failed (timeout): nothing came", "cycle 2 failed (refused): line 3 is no number",
          "cycle 3 failed (timeout): nothing came", kStale,
          "cycle 4 failed (refused): line 3 is no number",
          "cycle 5 failed (timeout): nothing came"}},
        {"the first three of a spell are shown even when alike",
         {kSilent, kSilent, kOk, kSilent, kSilent},
         {"cycle 1 failed (timeout): nothing came", "cycle 2 failed (timeout): nothing came",
          "cycle 4 failed (timeout): nothing came", "cycle 5 failed (timeout): nothing came"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = TextOf(c.steps);
        // The recovery line after a stale spell names how long: not compared.
        if (!lines.empty() && lines.back().rfind("communication re-established after ", 0) == 0) {
            lines.pop_back();
        }
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

TEST(FailureText, SummaryNamesTheLastFailure)
{
    events::Summary summary{5, 3, true, false, 0, "cycle 8 (timeout): nothing came"};
    const events::Event event{{}, events::Device{"ups", 1}, summary};
    EXPECT_EQ(TextOutput::Text(event),
              "8 cycles: 5 completed, 3 failed; data stale; last failure: cycle 8 (timeout): "
              "nothing came");
    EXPECT_EQ(JsonOutput::ToJson(event)["last_failure"].asString(),
              "cycle 8 (timeout): nothing came");
}

// A block whose values are 1 to 15 at their places in the record, DVBL an
// infinity and DTMP no number.
events::Event BlockEvent()
{
    data_block::Decoded decoded;
    const auto& fields = data_block::ValueFields();
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        const std::string tag = fields[i]->tag;
        decoded.values[i] = tag == "DVBL"   ? std::numeric_limits<float>::infinity()
                            : tag == "DTMP" ? std::nanf("")
                                            : static_cast<float>(i + 1);
    }
    events::Block block;
    block.cycle = 1;
    block.decoded = decoded;
    return {{}, events::Device{"ups", 1}, block};
}

TEST(BlockOutput, ValuesAreShownInTheRecordsOrderAsTheHistoryToolShowsThem)
{
    const events::Event event = BlockEvent();
    const std::string brief = BriefOutput::Fields(*std::get<events::Block>(event.fact).decoded);
    EXPECT_NE(brief.find("DVBT=12 DTMB=13 DVBN=14 DVBL=inf"), std::string::npos) << brief;
    const std::string text = TextOutput::Text(BlockEvent());
    EXPECT_NE(text.find("DVBT 12      DTMB 13      DVBN 14      DVBL inf"), std::string::npos)
        << text;
}

TEST(BlockOutput, ValuesThatAreNoFiniteNumberAreJsonAsInTheHistoryToolsJson)
{
    const Json::Value json = JsonOutput::ToJson(BlockEvent());
    EXPECT_EQ(json["block"]["values"]["DVBL"], Json::Value("inf"));
    EXPECT_TRUE(json["block"]["values"]["DTMP"].isNull());
    EXPECT_EQ(json["block"]["values"]["DVBN"].asDouble(), 14.0);
}

}  // namespace
