#include "tools/smdhist/DeviceSummary.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "tools/common/AlarmTexts.h"
#include "tools/common/Duration.h"
#include "tools/common/Plural.h"
#include "tools/smdhist/HistTime.h"

namespace {

// Longer lists are cut in the text; the JSON has them whole.
constexpr std::size_t kListed = 20;

std::string Iso(const Moment& at) { return data_block::IsoTime(at.stamp, at.utc_offset); }

double Exact(float value) { return std::strtod(data_block::ValueText(value).c_str(), nullptr); }

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

// "sbm 08037 电池供电告警 / 电池放电 (supply-by-battery alarm / battery discharge)"
std::string AlarmName(const ups_protocol::Alarm& alarm)
{
    const alarm_texts::English* english = alarm_texts::Find(alarm.signal_key);
    std::string name = std::string(alarm.signal_key) + " " + alarm.alarm_id + " " +
                       alarm.first_text;
    std::string in_english = english->first_text;
    if (std::string(alarm.second_text) != alarm.first_text) {
        name += std::string(" / ") + alarm.second_text;
        in_english += std::string(" / ") + english->second_text;
    }
    return name + " (" + in_english + ")";
}

// "inf in 2 blocks, nan in 1 block": the values of a range that are no finite number.
std::string NotFinite(const DeviceSummary::Range& range)
{
    std::string text;
    const std::pair<const char*, std::uint64_t> kinds[] = {
        {"inf", range.inf}, {"-inf", range.minus_inf}, {"nan", range.nan}};
    for (const auto& [word, count] : kinds) {
        if (count > 0) {
            text += (text.empty() ? "" : ", ") + std::string(word) + " in " +
                    Counted(count, "block");
        }
    }
    return text;
}

// The first items, and how many more there were in all.
template <typename Item, typename Show>
std::string Listed(const std::vector<Item>& items, std::uint64_t count, Show show)
{
    std::string text;
    for (std::size_t i = 0; i < items.size() && i < kListed; ++i) {
        text += "  " + show(items[i]) + "\n";
    }
    if (count > kListed) {
        text += Format("  ... and %llu more (--json lists the first %zu; --from/--to narrow the "
                       "range)\n",
                       static_cast<unsigned long long>(count - kListed), DeviceSummary::kKept);
    }
    return text;
}

}  // namespace

DeviceSummary::DeviceSummary(std::uint32_t data_id, std::optional<std::int64_t> gap_threshold)
    : data_id_(data_id), gaps_(gap_threshold)
{
}

void DeviceSummary::Add(const Entry& entry)
{
    const Moment at = Moment::Of(entry);
    if (blocks_ == 0) {
        first_ = at;
    } else {
        gaps_.Step(last_, at);
    }
    last_ = at;
    ++blocks_;
    AddValues(entry, at);
    AddFlags(entry, at);
}

void DeviceSummary::AddValues(const Entry& entry, const Moment& at)
{
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        const float value = entry.block.values[i];
        Range& range = ranges_[i];
        if (!std::isfinite(value)) {
            ++(std::isnan(value) ? range.nan : value > 0 ? range.inf : range.minus_inf);
            continue;
        }
        if (range.count == 0 || value < range.min) {
            range.min = value;
            range.min_at = at;
        }
        if (range.count == 0 || value > range.max) {
            range.max = value;
            range.max_at = at;
        }
        range.sum += static_cast<double>(value);
        ++range.count;
    }
}

void DeviceSummary::AddFlags(const Entry& entry, const Moment& at)
{
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        const bool on = entry.block.flags[i] == 1;
        std::optional<Interval>& current = current_[i];
        if (on && !current) {
            current = Interval{at, at, std::nullopt};
        } else if (on) {
            current->last_on = at;
        } else if (current) {
            current->cleared = at;
            Close(i);
        }
    }
}

// The flag's spell is over (or the history is): counted, and listed while there is room.
void DeviceSummary::Close(std::size_t flag)
{
    const Interval& interval = *current_[flag];
    ++spells_[flag].count;
    spells_[flag].seconds += interval.Seconds();
    // The spell still on at the end is listed whatever came before.
    if (intervals_[flag].size() < kKept || !interval.cleared) {
        intervals_[flag].push_back(interval);
    }
    current_[flag].reset();
}

void DeviceSummary::Finish()
{
    gaps_.Finish();
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        if (current_[i]) {
            Close(i);
        }
    }
}

std::string DeviceSummary::Text() const
{
    return Format("data id %u: %s from %s to %s (%s)\n", data_id_,
                  Counted(blocks_, "block").c_str(), Iso(first_).c_str(), Iso(last_).c_str(),
                  DurationText(last_.epoch - first_.epoch).c_str()) +
           GapsText() + ValuesText() + AlarmsText();
}

std::string DeviceSummary::GapsText() const
{
    std::string text = Format("gaps longer than %s (the usual step is %s): %llu\n",
                              DurationText(gaps_.Threshold()).c_str(),
                              DurationText(gaps_.Usual()).c_str(),
                              static_cast<unsigned long long>(gaps_.Count()));
    text += Listed(gaps_.Gaps(), gaps_.Count(), [](const GapFinder::Gap& gap) {
        return Format("%s to %s  %s without a block, after block %llu", Iso(gap.from).c_str(),
                      Iso(gap.to).c_str(), DurationText(gap.Seconds()).c_str(),
                      static_cast<unsigned long long>(gap.from.number));
    });
    if (gaps_.MedianFarAbove()) {
        text += Format("the median step is %s, far above the usual: most cycles stored no block\n",
                       DurationText(gaps_.Median()).c_str());
    }
    if (gaps_.Backwards() > 0) {
        text += Format("time stamps went back %s (the clock was set back)\n",
                       Counted(gaps_.Backwards(), "time").c_str());
    }
    return text;
}

std::string DeviceSummary::ValuesText() const
{
    std::string text = Format("\n%-5s %9s  %-25s  %9s   %9s  %s\n", "value", "min", "first at",
                              "mean", "max", "first at");
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        const Range& range = ranges_[i];
        const char* tag = data_block::ValueFields()[i]->tag;
        const std::string not_finite = NotFinite(range);
        if (range.count == 0) {
            text += Format("%-5s  %s\n", tag,
                           range.inf + range.minus_inf == 0
                               ? "no number in any block"
                               : ("no finite number: " + not_finite).c_str());
            continue;
        }
        text += Format("%-5s %9g  %-25s  %9g   %9g  %s%s\n", tag, static_cast<double>(range.min),
                       Iso(range.min_at).c_str(), range.sum / static_cast<double>(range.count),
                       static_cast<double>(range.max), Iso(range.max_at).c_str(),
                       not_finite.empty() ? "" : ("  also " + not_finite).c_str());
    }
    return text;
}

std::string DeviceSummary::AlarmsText() const
{
    std::string text = "\nalarms, each interval with the flag at 1:\n";
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        const auto& intervals = intervals_[i];
        text += AlarmName(alarm_texts::AlarmOf(i)) + (intervals.empty() ? ": never\n" : "\n");
        text += Listed(intervals, spells_[i].count, [](const Interval& interval) {
            return Format("%s to %s  %s  (blocks %llu to %llu)%s", Iso(interval.start).c_str(),
                          Iso(interval.End()).c_str(),
                          DurationText(interval.Seconds()).c_str(),
                          static_cast<unsigned long long>(interval.start.number),
                          static_cast<unsigned long long>(interval.last_on.number),
                          interval.cleared ? "" : ", still on at the last block");
        });
    }
    return text;
}

Json::Value DeviceSummary::ToJson() const
{
    Json::Value json(Json::objectValue);
    json["data_id"] = data_id_;
    json["blocks"] = Json::UInt64(blocks_);
    json["first"] = Iso(first_);
    json["last"] = Iso(last_);
    json["span_seconds"] = Json::Int64(last_.epoch - first_.epoch);
    json["usual_step_seconds"] = Json::Int64(gaps_.Usual());
    json["median_step_seconds"] = Json::Int64(gaps_.Median());
    json["gap_threshold_seconds"] = Json::Int64(gaps_.Threshold());
    json["backwards"] = Json::UInt64(gaps_.Backwards());
    json["gap_count"] = Json::UInt64(gaps_.Count());
    json["gaps_left_out"] = Json::UInt64(gaps_.Count() - gaps_.Gaps().size());
    json["gaps"] = Json::Value(Json::arrayValue);
    for (const GapFinder::Gap& gap : gaps_.Gaps()) {
        Json::Value item;
        item["from"] = Iso(gap.from);
        item["to"] = Iso(gap.to);
        item["seconds"] = Json::Int64(gap.Seconds());
        item["after_block"] = Json::UInt64(gap.from.number);
        json["gaps"].append(item);
    }
    json["values"] = ValuesJson();
    json["alarms"] = AlarmsJson();
    return json;
}

Json::Value DeviceSummary::ValuesJson() const
{
    Json::Value json(Json::objectValue);
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        const Range& range = ranges_[i];
        Json::Value& value = json[data_block::ValueFields()[i]->tag];
        value["count"] = Json::UInt64(range.count);
        value["nan_count"] = Json::UInt64(range.nan);
        value["inf_count"] = Json::UInt64(range.inf);
        value["minus_inf_count"] = Json::UInt64(range.minus_inf);
        if (range.count == 0) {
            continue;
        }
        value["min"] = Exact(range.min);
        value["min_at"] = Iso(range.min_at);
        value["mean"] = range.sum / static_cast<double>(range.count);
        value["max"] = Exact(range.max);
        value["max_at"] = Iso(range.max_at);
    }
    return json;
}

// Named as the bench host's alarm events name them, with the English texts.
Json::Value DeviceSummary::AlarmsJson() const
{
    Json::Value json(Json::arrayValue);
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        const ups_protocol::Alarm& alarm = alarm_texts::AlarmOf(i);
        const alarm_texts::English* english = alarm_texts::Find(alarm.signal_key);
        Json::Value item;
        item["key"] = alarm.signal_key;
        item["alarm_id"] = alarm.alarm_id;
        item["text"] = alarm.first_text;
        item["second_text"] = alarm.second_text;
        item["english_text"] = english->first_text;
        item["second_english_text"] = english->second_text;
        item["interval_count"] = Json::UInt64(spells_[i].count);
        item["intervals_left_out"] = Json::UInt64(spells_[i].count - intervals_[i].size());
        item["seconds_on"] = Json::Int64(spells_[i].seconds);
        item["intervals"] = Json::Value(Json::arrayValue);
        for (const Interval& interval : intervals_[i]) {
            Json::Value spell;
            spell["start"] = Iso(interval.start);
            spell["end"] = Iso(interval.End());
            spell["seconds"] = Json::Int64(interval.Seconds());
            spell["first_block"] = Json::UInt64(interval.start.number);
            spell["last_block"] = Json::UInt64(interval.last_on.number);
            spell["open"] = !interval.cleared;
            item["intervals"].append(spell);
        }
        json.append(item);
    }
    return json;
}
