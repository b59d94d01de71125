#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "tools/smdhist/GapFinder.h"
#include "tools/smdhist/Moment.h"

// What the sound blocks of one data identifier say, gathered as they pass:
// the span, the gaps, each value's range and each alarm flag's intervals.
class DeviceSummary {
public:
    struct Range {
        std::uint64_t count = 0;  // the values that are finite numbers
        std::uint64_t nan = 0;    // no number
        std::uint64_t inf = 0;
        std::uint64_t minus_inf = 0;
        double sum = 0;
        float min = 0;
        float max = 0;
        Moment min_at;  // the first block that shows it
        Moment max_at;
    };

    // A spell with the flag at 1, from the first block that shows it to the
    // first that shows it 0 again, or to the last block while it stays on.
    struct Interval {
        Moment start;
        Moment last_on;
        std::optional<Moment> cleared;

        const Moment& End() const { return cleared ? *cleared : last_on; }
        std::int64_t Seconds() const { return End().epoch - start.epoch; }
    };

    // Each flag's intervals listed; beyond them only counted and summed.
    static constexpr std::size_t kKept = 1000;

    // What is known of one flag's intervals beyond the list.
    struct Spells {
        std::uint64_t count = 0;
        std::int64_t seconds = 0;  // in all, with the flag at 1
    };

    DeviceSummary(std::uint32_t data_id, std::optional<std::int64_t> gap_threshold);

    void Add(const Entry& entry);
    void Finish();

    std::uint32_t DataId() const { return data_id_; }
    std::uint64_t Blocks() const { return blocks_; }
    const Moment& First() const { return first_; }
    const Moment& Last() const { return last_; }
    const GapFinder& Gaps() const { return gaps_; }
    const std::array<Range, data_block::kValues>& Ranges() const { return ranges_; }
    // The first intervals of each flag, and the one still on at the last block.
    const std::array<std::vector<Interval>, data_block::kFlags>& Intervals() const
    {
        return intervals_;
    }
    const std::array<Spells, data_block::kFlags>& AllSpells() const { return spells_; }

    std::string Text() const;
    Json::Value ToJson() const;

private:
    void AddValues(const Entry& entry, const Moment& at);
    void AddFlags(const Entry& entry, const Moment& at);
    void Close(std::size_t flag);
    std::string GapsText() const;
    std::string ValuesText() const;
    std::string AlarmsText() const;
    Json::Value ValuesJson() const;
    Json::Value AlarmsJson() const;

    std::uint32_t data_id_;
    std::uint64_t blocks_ = 0;
    Moment first_;
    Moment last_;
    GapFinder gaps_;
    std::array<Range, data_block::kValues> ranges_{};
    std::array<std::vector<Interval>, data_block::kFlags> intervals_;
    std::array<std::optional<Interval>, data_block::kFlags> current_;  // on, or cleared at its end
    std::array<Spells, data_block::kFlags> spells_{};
};
