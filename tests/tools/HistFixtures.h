#pragma once

// What the history tool's unit tests share: stamps read two hours east of
// UTC, and blocks as the history's reader hands them on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/HistoryMaker.h"
#include "tools/common/DataBlock.h"
#include "tools/smdhist/BlockStream.h"
#include "tools/smdhist/HistTime.h"

// Each case in UTC+2 (the zone of the stamps), as the history tool reads it:
// a zone other than UTC shows offset mistakes.
class StampsTwoHoursEast : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* zone = std::getenv("TZ");
        saved_ = zone != nullptr ? std::optional<std::string>(zone) : std::nullopt;
        setenv("TZ", "XST-2", 1);
        data_block::ZoneChanged();
    }
    void TearDown() override
    {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        data_block::ZoneChanged();
    }

private:
    std::optional<std::string> saved_;
};

// The file the entries of these tests come from.
inline const std::string kHistoryFile = "1.history";

// Block `number` of a history as its reader hands it on: decoded, placed in
// the zone, its damage named.
inline Entry EntryOf(const history_maker::Stored& stored, std::uint64_t number)
{
    const std::string bytes = history_maker::Bytes(stored);
    Entry entry;
    entry.number = number;
    entry.file = &kHistoryFile;
    entry.offset = (number - 1) * data_block::kSize;
    data_block::Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                       entry.block);
    entry.epoch = hist_time::Epoch(entry.block.time_stamp);
    entry.damage = DamageOf(entry.block);
    return entry;
}
