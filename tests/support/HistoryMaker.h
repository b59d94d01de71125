#pragma once

// Histories made through the module's own record, for the history tool's
// tests and benchmarks: single blocks, and long histories with flapping
// alarms and many gaps written quickly.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "framework/ttime.h"
#include "ups/QuillmarUPS_Data.h"
#include "ups/UpsProtocol.h"

namespace history_maker {

// A block as the module stores it.
struct Stored {
    std::uint32_t data_id = 42;
    ttime stamp{2026, 3, 1, 10, 0, 0};
    std::array<std::uint8_t, 5> flags{};  // SOK SBP SUF SBL SBM
    std::map<std::string, float> values;  // by tag; the others 0
};

inline std::string Bytes(const Stored& stored)
{
    QuillmarUPS_Block_t block{};
    block.data_id = stored.data_id;
    block.time_stamp = stored.stamp;
    auto* record = reinterpret_cast<unsigned char*>(&block.data);
    for (std::size_t i = 0; i < stored.flags.size(); ++i) {
        record[ups_protocol::kStatusFields[i].offset] = stored.flags[i];
    }
    for (const auto& field : ups_protocol::kDataFields) {
        const auto value = stored.values.find(field.tag);
        const float number = value == stored.values.end() ? 0.0f : value->second;
        std::memcpy(record + field.offset, &number, sizeof(number));
    }
    return std::string(reinterpret_cast<const char*>(&block), sizeof(block));
}

inline std::string Bytes(const std::vector<Stored>& blocks)
{
    std::string bytes;
    for (const Stored& stored : blocks) {
        bytes += Bytes(stored);
    }
    return bytes;
}

// Twelve blocks a minute apart from 2026-03-01T10:00:00, each with values of
// its own and one alarm flag at 1 in turn.
inline std::vector<Stored> Twelve()
{
    std::vector<Stored> blocks(12);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        blocks[i].stamp.minute = static_cast<std::uint8_t>(i);
        blocks[i].flags[i % 5] = 1;
        blocks[i].values["DVIA"] = 220.5f + static_cast<float>(i);
        blocks[i].values["DVBT"] = 0.1f * static_cast<float>(i);
    }
    return blocks;
}

// The stamp `seconds` after 2026-01-01T00:00:00 (no leap seconds, UTC-like
// wall clock: a day is 86,400 s).
inline ttime StampAfter(std::int64_t seconds)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::int64_t days = seconds / 86400;
    const std::int64_t rest = seconds % 86400;
    int year = 2026;
    int month = 0;
    for (;;) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const int length = kDays[month] + (month == 1 && leap ? 1 : 0);
        if (days < length) {
            break;
        }
        days -= length;
        if (++month == 12) {
            month = 0;
            ++year;
        }
    }
    return {static_cast<std::uint16_t>(year), static_cast<std::uint8_t>(month + 1),
            static_cast<std::uint8_t>(days + 1), static_cast<std::uint8_t>(rest / 3600),
            static_cast<std::uint8_t>(rest / 60 % 60), static_cast<std::uint8_t>(rest % 60)};
}

// Blocks every five minutes from 01:30 CEST to 04:25 CET on 2026-10-25, as a
// controller in Berlin stamps them: its clocks go back at 03:00 CEST, so
// 02:00 to 02:55 come twice, summer time first.
inline std::vector<Stored> AcrossTheAutumnChange()
{
    std::vector<Stored> blocks;
    const std::int64_t start = 297 * 86400 - 1800;  // 2026-10-24T23:30:00Z
    for (std::int64_t utc = 0; utc < 4 * 3600; utc += 300) {
        const std::int64_t offset = utc < 5400 ? 7200 : 3600;  // CET from 01:00 UTC
        Stored stored;
        stored.stamp = StampAfter(start + utc + offset);
        blocks.push_back(stored);
    }
    return blocks;
}

// `count` blocks one every 5 s, as a bench host polling for two months: each
// alarm flag flaps (on and off every few blocks, each at its own pace), a gap
// of a minute or more every 97 blocks, and every value moves. Written
// straight to `path`; false when it cannot be.
inline bool WriteFlappingHistory(const std::string& path, std::uint64_t count,
                                 std::uint32_t data_id = 1001)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    QuillmarUPS_Block_t block{};
    block.data_id = data_id;
    auto* record = reinterpret_cast<unsigned char*>(&block.data);
    std::int64_t seconds = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        seconds += i % 97 == 0 ? 60 + static_cast<std::int64_t>(i % 7) * 30 : 5;
        block.time_stamp = StampAfter(seconds);
        for (std::size_t f = 0; f < 5; ++f) {
            record[ups_protocol::kStatusFields[f].offset] = (i / (f + 2)) % 2 == 1 ? 1 : 0;
        }
        std::size_t v = 0;
        for (const auto& field : ups_protocol::kDataFields) {
            const float number = 200.0f + static_cast<float>((i * 7 + v * 13) % 600) / 10.0f;
            std::memcpy(record + field.offset, &number, sizeof(number));
            ++v;
        }
        std::fwrite(&block, sizeof(block), 1, out);
    }
    return std::fclose(out) == 0;
}

}  // namespace history_maker
