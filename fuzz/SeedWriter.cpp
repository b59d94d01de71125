// Writes the seed corpus of the receive, answer and cache targets and the
// dictionary of protocol tags, from the answers and faults that the simulator
// and the tests use. Run it after a change to the protocol or the faults:
//   fuzz_seed_writer DIR   writes DIR/corpus/{receive,answer,cache}, DIR/ups.dict
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fuzz/HostScript.h"
#include "sim/UpsAnswers.h"
#include "sim/UpsFaults.h"
#include "ups/UpsProtocol.h"

namespace fs = std::filesystem;
using host_script::Writer;
using ups_answers::Line;

namespace {

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Chunked(const std::vector<std::string>& chunks)
{
    Writer script;
    for (const std::string& chunk : chunks) {
        script.Chunk(chunk);
    }
    return script.Bytes();
}

// The reads of a line at its own speed: a few bytes each.
std::vector<std::string> Paced(const std::vector<std::string>& chunks)
{
    std::string bytes;
    for (const std::string& chunk : chunks) {
        bytes += chunk;
    }
    if (bytes.empty()) {
        return {};
    }
    static const std::vector<std::size_t> kReads = {1, 3, 2, 7};
    std::vector<std::string> reads;
    std::size_t next = 0;
    for (std::size_t at = 0; at < bytes.size(); at += reads.back().size()) {
        reads.push_back(bytes.substr(at, kReads[next++ % kReads.size()]));
    }
    return reads;
}

// One poll cycle with a fault put into one answer, as the simulator sends it
// (`paced`: as the host reads it at the line's own speed), then a good one.
std::string CycleWithFault(ups_faults::Fault fault, ups_faults::Answer answer, bool paced = false)
{
    std::mt19937 rng(5017);
    const auto reading = ups_answers::OnLine();
    auto status = ups_answers::StatusLines(reading);
    auto data = ups_answers::DataLines(reading);
    const auto faulty = [&](const std::vector<Line>& lines) {
        const std::vector<std::string> chunks = ups_faults::Inject(fault, answer, lines, rng);
        return Chunked(paced ? Paced(chunks) : chunks);
    };
    std::string script = Writer().Refresh().Bytes();
    if (answer == ups_faults::Answer::Status) {
        script += faulty(status);
        script += Writer().Refresh().Bytes();
    }
    script += Writer().Chunk(ups_answers::Join(status)).Bytes();
    if (answer == ups_faults::Answer::Data) {
        script += faulty(data);
        script += Writer().Refresh().Chunk(ups_answers::Join(status)).Bytes();
    }
    return script + Writer().Chunk(ups_answers::Join(data)).Bytes();
}

std::vector<Line> WithValue(std::vector<Line> lines, std::size_t line, const std::string& value)
{
    lines[line].value = value;
    return lines;
}

void WriteReceiveSeeds(const fs::path& dir)
{
    const auto reading = ups_answers::OnLine();
    const std::string status = ups_answers::StatusAnswer(reading);
    const std::string data = ups_answers::DataAnswer(reading);
    const auto data_lines = ups_answers::DataLines(reading);

    WriteFile(dir / "cycle", Writer().Refresh().Chunk(status).Chunk(data).Bytes());
    WriteFile(dir / "cycle-byte-by-byte",
              Writer().Refresh().Chunks(status + data, {1}).Bytes());
    WriteFile(dir / "cycle-canned-answers",
              Writer().Refresh().StatusAnswer(0x15).DataAnswer().Bytes());
    WriteFile(dir / "data-answer-completed-by-hand",
              Writer().Refresh().StatusAnswer(0).DataAnswer(1).Chunk("DVBL20.0\r\n").Bytes());
    WriteFile(dir / "idle-after-overflow-then-cycle",
              Writer().Refresh().LongChunk(4097, 0, false).Chunk(status).Empty(true)
                  .Refresh().Chunk(status).Chunk(data).Bytes());
    WriteFile(dir / "host-reset-mid-answer",
              Writer().Refresh().Chunk(status.substr(0, 20)).HostReset().Empty(false)
                  .Refresh().Chunk(status).Chunk(data).Bytes());
    WriteFile(dir / "buffer-filled-to-4096",
              Writer().Refresh().LongChunk(4090, 1, false).Chunk("\r\n\r\n\r\n").Empty(false)
                  .Bytes());
    WriteFile(dir / "longest-accepted-value",
              Writer().Refresh().Chunk(status)
                  .Chunk(ups_answers::Join(WithValue(data_lines, 0, std::string(124, '9'))))
                  .Bytes());
    WriteFile(dir / "overlong-value",
              Writer().Refresh().Chunk(status)
                  .Chunk(ups_answers::Join(WithValue(data_lines, 14, "1" + std::string(128, ' '))))
                  .Bytes());
    WriteFile(dir / "value-out-of-range",
              Writer().Refresh().Chunk(status)
                  .Chunk(ups_answers::Join(WithValue(data_lines, 3, "1e39"))).Bytes());

    std::string block(host_script::kBlockSize, '\0');
    const std::uint8_t flags[5] = {1, 2, 0, 255, 1};
    std::memcpy(&block[4], flags, sizeof(flags));
    WriteFile(dir / "cache-then-cycle",
              Writer().CacheBlock(block).Refresh().StatusAnswer(0x1F).DataAnswer().Bytes());

    for (const auto& fault : ups_faults::kFaults) {
        for (auto answer : {ups_faults::Answer::Status, ups_faults::Answer::Data}) {
            if (!ups_faults::AppliesTo(fault.fault, answer)) {
                continue;
            }
            const char* in = answer == ups_faults::Answer::Status ? "-in-status" : "-in-data";
            WriteFile(dir / (std::string("fault-") + fault.name + in),
                      CycleWithFault(fault.fault, answer));
        }
    }
}

// Answer inputs: host scripts as for the receive target; every fault in each
// answer, as sent and at the line's own speed, where a line that came twice is
// taken in the place of the answer's last.
void WriteAnswerSeeds(const fs::path& dir)
{
    const auto reading = ups_answers::OnLine();
    const std::string status = ups_answers::StatusAnswer(reading);
    const std::string data = ups_answers::DataAnswer(reading);
    WriteFile(dir / "cycle", Writer().Refresh().Chunk(status).Chunk(data).Bytes());
    WriteFile(dir / "cycle-paced", Writer().Refresh().Bytes() + Chunked(Paced({status, data})));
    // Values at the edges of the number grammar, as material to mutate.
    static const char* const kEdges[15] = {" 229.75", "+231.125", "-0",   "1.5e2",  "0x1.8p1",
                                           "36.5A",   "\t34.25",  "50.",  ".5",     "13,6",
                                           "inf",     "-nan",     "3.4e38", "1.2e-38", "0"};
    auto edges = ups_answers::DataLines(reading);
    for (std::size_t i = 0; i < edges.size(); ++i) {
        edges[i].value = kEdges[i];
    }
    const std::string cycle = Writer().Refresh().Chunk(status).Bytes();
    WriteFile(dir / "values-at-the-edges", cycle + Writer().Chunk(ups_answers::Join(edges)).Bytes());
    WriteFile(dir / "value-past-a-float",
              cycle + Writer().Chunk(ups_answers::Join(WithValue(edges, 12, "3.5e38"))).Bytes());
    WriteFile(dir / "value-below-a-normal-float",
              cycle + Writer().Chunk(ups_answers::Join(WithValue(edges, 13, "1e-39"))).Bytes());
    for (const auto& fault : ups_faults::kFaults) {
        for (auto answer : {ups_faults::Answer::Status, ups_faults::Answer::Data}) {
            if (!ups_faults::AppliesTo(fault.fault, answer) ||
                fault.fault == ups_faults::Fault::Silence) {
                continue;
            }
            const std::string name = std::string("fault-") + fault.name +
                                     (answer == ups_faults::Answer::Status ? "-in-status"
                                                                           : "-in-data");
            WriteFile(dir / name, CycleWithFault(fault.fault, answer));
            WriteFile(dir / (name + "-paced"), CycleWithFault(fault.fault, answer, true));
        }
    }
}

// Cache inputs: a form byte, then the block (CacheFuzz.cpp).
void WriteCacheSeeds(const fs::path& dir)
{
    std::string block(host_script::kBlockSize, '\0');
    const std::uint32_t data_id = 258;
    const std::uint8_t flags[5] = {0, 1, 0, 1, 2};
    const float value = 230.5f;
    std::memcpy(&block[0], &data_id, sizeof(data_id));
    std::memcpy(&block[4], flags, sizeof(flags));
    for (std::size_t offset = 9; offset < 69; offset += 4) {
        std::memcpy(&block[offset], &value, sizeof(value));
    }
    WriteFile(dir / "block", std::string(1, '\0') + block);
    WriteFile(dir / "block-one-byte-short", std::string(1, '\0') + block.substr(1));
    WriteFile(dir / "block-as-text", std::string(1, '\3') + block);
    WriteFile(dir / "negative-length", std::string("\1\xB4\xFF\xFF\xFF", 5) + block);
    WriteFile(dir / "null-pointer", std::string("\2\x4C\0\0\0", 5));
}

// The tags of both answers and the bytes around them, in libFuzzer's format.
void WriteDictionary(const fs::path& path)
{
    std::string dict = "# Written by fuzz_seed_writer from ups/UpsProtocol.h.\n";
    for (const auto& field : ups_protocol::kStatusFields) {
        dict += "\"" + std::string(field.tag) + "\"\n";
        dict += "\"" + std::string(field.tag) + "1\\x0D\\x0A\"\n";
    }
    for (const auto& field : ups_protocol::kDataFields) {
        dict += "\"" + std::string(field.tag) + "\"\n";
    }
    dict += "\"\\x0D\\x0A\"\n\"1e39\"\n\"-0.5\"\n\"nan\"\n\"inf\"\n\"0x1p3\"\n";
    WriteFile(path, dict);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    fs::create_directories(root / "corpus" / "receive");
    fs::create_directories(root / "corpus" / "answer");
    fs::create_directories(root / "corpus" / "cache");
    WriteReceiveSeeds(root / "corpus" / "receive");
    WriteAnswerSeeds(root / "corpus" / "answer");
    WriteCacheSeeds(root / "corpus" / "cache");
    WriteDictionary(root / "ups.dict");
    return 0;
}
