#pragma once

// What the history tool's unit tests share: stamps read two hours east of
// UTC (or in a zone a case names), and blocks as the history's reader hands
// them on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/HistoryMaker.h"
#include "tools/common/DataBlock.h"
#include "tools/smdhist/BlockStream.h"
#include "tools/smdhist/HistTime.h"
#include "tools/smdhist/StampPlacer.h"

// Each case in UTC+2 (the zone of the stamps), as the history tool reads it:
// a zone other than UTC shows offset mistakes.
class StampsTwoHoursEast : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* zone = std::getenv("TZ");
        saved_ = zone != nullptr ? std::optional<std::string>(zone) : std::nullopt;
        UseZone("XST-2");
    }
    void TearDown() override
    {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        hist_time::ZoneChanged();
    }

    // The stamps read in `zone` (a TZ value: a rule or a name of the zone database).
    static void UseZone(const std::string& zone)
    {
        setenv("TZ", zone.c_str(), 1);
        hist_time::ZoneChanged();
    }

private:
    std::optional<std::string> saved_;
};

// What an output writes, kept in memory.
class Written {
public:
    Written() : out_(open_memstream(&text_, &size_)) {}
    ~Written()
    {
        std::fclose(out_);
        std::free(text_);
    }
    Written(const Written&) = delete;
    Written& operator=(const Written&) = delete;

    std::FILE* File() { return out_; }
    std::string Text()
    {
        std::fflush(out_);
        return std::string(text_, size_);
    }

private:
    char* text_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* out_;
};

// How often `part` is in `text`.
inline std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The file the entries of these tests come from.
inline const std::string kHistoryFile = "1.history";

// Block `number` of a history as its reader hands it on: decoded, its damage
// named, placed in the zone by `placer` (after the blocks it placed before).
inline Entry EntryOf(const history_maker::Stored& stored, std::uint64_t number,
                     StampPlacer& placer)
{
    const std::string bytes = history_maker::Bytes(stored);
    Entry entry;
    entry.number = number;
    entry.file = &kHistoryFile;
    entry.offset = (number - 1) * data_block::kSize;
    data_block::Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                       entry.block);
    entry.damage = DamageOf(entry.block);
    placer.Place(entry);
    return entry;
}

// Block `number` placed on its own, with no block before it.
inline Entry EntryOf(const history_maker::Stored& stored, std::uint64_t number)
{
    StampPlacer placer;
    return EntryOf(stored, number, placer);
}
