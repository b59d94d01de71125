// The data block as bytes: every float of the UPS record at its odd offset,
// little-endian, whatever the target. On the board (and under qemu-mipsel) a
// float read or written through a float pointer at an odd address is a bus
// error, so these run every record field through the module both ways.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/UpsHarness.h"
#include "ups/QuillmarUPS_Data.h"

// What the header's offset checks leave implicit.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the block is little-endian: build for a little-endian target (mipsel, not mips)");
static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "record floats are IEEE 754 single precision");
static_assert(offsetof(QuillmarUPS_Data_t, sok) == 0 && offsetof(QuillmarUPS_Data_t, sbp) == 1 &&
                  offsetof(QuillmarUPS_Data_t, suf) == 2 && offsetof(QuillmarUPS_Data_t, sbl) == 3,
              "status flags in the order SOK, SBP, SUF, SBL, SBM");
static_assert(offsetof(QuillmarUPS_Block_t, data_id) == 0, "the data identifier leads the block");
static_assert(alignof(QuillmarUPS_Data_t) == 1 && alignof(QuillmarUPS_Block_t) == 1,
              "the record and block have no alignment, so nothing pads them");
static_assert(std::is_trivially_copyable<QuillmarUPS_Block_t>::value,
              "the block is copied as bytes");

namespace {

using Bytes = RecordingController::Bytes;

// One float of the record: its tag, a value the UPS sends exactly, where it
// lies in the block and its four bytes there.
struct Field {
    const char* tag;
    float value;
    std::size_t offset;
    std::uint8_t bytes[4];
};

// Record order, which differs from the answer's for DTMB and DVBN.
constexpr Field kFields[15] = {
    {"DVIA", 230.5f, 9, {0x00, 0x80, 0x66, 0x43}},
    {"DVIB", -229.5f, 13, {0x00, 0x80, 0x65, 0xC3}},
    {"DVIC", 231.0f, 17, {0x00, 0x00, 0x67, 0x43}},
    {"DVOA", 0.5f, 21, {0x00, 0x00, 0x00, 0x3F}},
    {"DVOB", 1024.0f, 25, {0x00, 0x00, 0x80, 0x44}},
    {"DVOC", -0.5f, 29, {0x00, 0x00, 0x00, 0xBF}},
    {"DLOA", 35.5f, 33, {0x00, 0x00, 0x0E, 0x42}},
    {"DLOB", 3.0f, 37, {0x00, 0x00, 0x40, 0x40}},
    {"DLOC", 1234567.5f, 41, {0x3C, 0xB4, 0x96, 0x49}},
    {"DTMP", 28.5f, 45, {0x00, 0x00, 0xE4, 0x41}},
    {"DHZF", 50.0f, 49, {0x00, 0x00, 0x48, 0x42}},
    {"DVBT", 54.5f, 53, {0x00, 0x00, 0x5A, 0x42}},
    {"DTMB", 13.5f, 57, {0x00, 0x00, 0x58, 0x41}},
    {"DVBN", 25.0f, 61, {0x00, 0x00, 0xC8, 0x41}},
    {"DVBL", 20.5f, 65, {0x00, 0x00, 0xA4, 0x41}},
};

// The record's floats in record order, each read by value from its member.
std::array<float, 15> MemberValues(const QuillmarUPS_Data_t& r)
{
    return {r.dvia, r.dvib, r.dvic, r.dvoa, r.dvob, r.dvoc, r.dloa, r.dlob,
            r.dloc, r.dtmp, r.dhzf, r.dvbt, r.dtmb, r.dvbn, r.dvbl};
}

// Writes the record's floats in record order, each by value into its member.
void SetMembers(QuillmarUPS_Data_t& r, const std::array<float, 15>& v)
{
    r.dvia = v[0];
    r.dvib = v[1];
    r.dvic = v[2];
    r.dvoa = v[3];
    r.dvob = v[4];
    r.dvoc = v[5];
    r.dloa = v[6];
    r.dlob = v[7];
    r.dloc = v[8];
    r.dtmp = v[9];
    r.dhzf = v[10];
    r.dvbt = v[11];
    r.dtmb = v[12];
    r.dvbn = v[13];
    r.dvbl = v[14];
}

std::uint32_t Bits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

class BlockLayout : public UpsHarness {
protected:
    // The published block, read back through the block type.
    static QuillmarUPS_Block_t AsBlock(const Bytes& bytes)
    {
        QuillmarUPS_Block_t block;
        std::memcpy(&block, bytes.data(), sizeof(block));
        return block;
    }
};

TEST_F(BlockLayout, EveryFloatOfADataAnswerLandsLittleEndianAtItsOddOffset)
{
    std::vector<ups_answers::Line> lines;
    for (const Field& field : kFields) {
        char value[32];
        std::snprintf(value, sizeof(value), "%.1f", static_cast<double>(field.value));
        lines.push_back({field.tag, value});
    }
    auto reading = ups_answers::OnLine();
    reading.flags = {1, 0, 1, 1, 0};
    ::testing::internal::CaptureStdout();
    ups->InitSetting(Json::Value(Json::objectValue));
    const int result = Cycle(ups_answers::StatusAnswer(reading), ups_answers::Join(lines));
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, 0);
    ASSERT_EQ(host->published.size(), 1u);
    const Bytes& bytes = host->published[0].block;
    ASSERT_EQ(bytes.size(), 76u);

    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 9),
              (Bytes{0x02, 0x01, 0x00, 0x00, 1, 0, 1, 1, 0}));  // data id 258, then the flags
    const QuillmarUPS_Block_t block = AsBlock(bytes);
    EXPECT_EQ(block.data_id, kDataId);
    const std::array<float, 15> members = MemberValues(block.data);
    for (std::size_t i = 0; i < 15; ++i) {
        const Field& field = kFields[i];
        EXPECT_EQ(Bytes(bytes.begin() + field.offset, bytes.begin() + field.offset + 4),
                  Bytes(field.bytes, field.bytes + 4))
            << field.tag;
        EXPECT_EQ(BlockFloat(bytes, field.offset), field.value) << field.tag;
        EXPECT_EQ(members[i], field.value) << field.tag;
    }
}

TEST_F(BlockLayout, CachedBlockWrittenFieldByFieldComesBackBitForBit)
{
    const std::array<float, 15> values = {
        -0.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::infinity(), 1.0f / 3.0f, -1e-30f, 6.02e23f, 230.5f,
        -229.5f, 0.1f, 50.0f, 54.6f, 13.6f, 25.0f, 20.0f};
    QuillmarUPS_Block_t block{};
    block.data_id = 0xA1B2C3D4u;
    block.data.sok = 1;
    block.data.sbm = 2;
    SetMembers(block.data, values);
    std::string cached(76, '\0');
    std::memcpy(&cached[0], &block, sizeof(block));
    const std::uint8_t nan_with_payload[4] = {0x45, 0x23, 0xC1, 0x7F};
    std::memcpy(&cached[65], nan_with_payload, 4);  // over dvbl: bytes, not a value

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ups->LoadFromCache(cached), 1);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(host->published.size(), 1u);
    const Bytes& bytes = host->published[0].block;
    ASSERT_EQ(bytes.size(), 76u);

    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 69),
              Bytes(cached.begin(), cached.begin() + 69));
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 9),
              (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 1, 0, 0, 0, 2}));
    for (std::size_t i = 0; i + 1 < 15; ++i) {
        EXPECT_EQ(Bits(BlockFloat(bytes, kFields[i].offset)), Bits(values[i])) << kFields[i].tag;
    }
    const std::array<float, 15> members = MemberValues(AsBlock(bytes).data);
    for (std::size_t i = 0; i + 1 < 15; ++i) {
        EXPECT_EQ(Bits(members[i]), Bits(values[i])) << kFields[i].tag;
    }
}

}  // namespace
