// smdhist as a user runs it: on a history the bench host wrote while polling
// the simulator, and on files with the damage a real history can carry.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include "tests/e2e/Child.h"
#include "tests/e2e/ReadBack.h"
#include "tests/e2e/SmdhistRun.h"
#include "tests/support/HistoryMaker.h"
#include "ups/QuillmarUPS_Data.h"
#include "ups/UpsProtocol.h"

#if !defined(QUILL_SMDHIST) || !defined(QUILL_SMDHOST) || !defined(QUILL_UPSSIM) || \
    !defined(QUILL_MODULE)
#error "QUILL_SMDHIST, QUILL_SMDHOST, QUILL_UPSSIM and QUILL_MODULE name the built programs"
#endif

namespace {

using history_maker::Bytes;
using history_maker::Stored;

// "2026-03-01T10:00:00+02:00" back into the stored stamp.
ttime Stamp(const std::string& iso)
{
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(std::sscanf(iso.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u", &year, &month, &day, &hour,
                          &minute, &second),
              6)
        << iso;
    return {static_cast<std::uint16_t>(year), static_cast<std::uint8_t>(month),
            static_cast<std::uint8_t>(day), static_cast<std::uint8_t>(hour),
            static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second)};
}

// A JSON block object of smdhist or of the bench host back into stored bytes.
std::string BytesOfJson(const Json::Value& block)
{
    Stored stored;
    stored.data_id = block["data_id"].asUInt();
    stored.stamp = Stamp(block["time_stamp"].asString());
    for (std::size_t i = 0; i < stored.flags.size(); ++i) {
        stored.flags[i] =
            static_cast<std::uint8_t>(block["flags"][ups_protocol::kStatusFields[i].tag].asUInt());
    }
    for (const auto& field : ups_protocol::kDataFields) {
        stored.values[field.tag] = block["values"][field.tag].asFloat();
    }
    return Bytes(stored);
}

Lines Split(const std::string& line)
{
    Lines cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) {
        cells.push_back(cell);
    }
    return cells;
}

// A CSV row of smdhist (its header names the columns) back into stored bytes.
std::string BytesOfCsv(const std::string& header, const std::string& row)
{
    const Lines names = Split(header);
    const Lines cells = Split(row);
    std::map<std::string, std::string> cell;
    for (std::size_t i = 0; i < names.size() && i < cells.size(); ++i) {
        cell[names[i]] = cells[i];
    }
    Stored stored;
    stored.data_id = static_cast<std::uint32_t>(std::stoul(cell["data_id"]));
    stored.stamp = Stamp(cell["time_stamp"]);
    for (std::size_t i = 0; i < stored.flags.size(); ++i) {
        stored.flags[i] =
            static_cast<std::uint8_t>(std::stoul(cell[ups_protocol::kStatusFields[i].tag]));
    }
    for (const auto& field : ups_protocol::kDataFields) {
        stored.values[field.tag] = std::strtof(cell[field.tag].c_str(), nullptr);
    }
    return Bytes(stored);
}

// ---- A history the bench host wrote -------------------------------------------------

// Ten polls: the steps end at blocks 1, 4, 5, 7, 8, 9, and the UPS fault is
// still on at the last block.
constexpr const char* kScenario = R"({"steps": [
    {"name": "on line", "polls": 1},
    {"name": "mains fails", "polls": 3, "flags": {"SUF": 1, "SBM": 1},
     "values": {"DVIA": 0, "DVBT": [54.6, 50.2]}},
    {"name": "low battery", "polls": 1, "flags": {"SBL": 1}, "values": {"DVBT": 47.3}},
    {"name": "mains back", "polls": 2, "flags": {"SUF": 0, "SBM": 0, "SBL": 0},
     "values": {"DVIA": 230.5, "DVBT": [51.1, 53.9]}},
    {"name": "bypass and fault", "polls": 1, "flags": {"SBP": 1, "SOK": 1}},
    {"name": "fault", "polls": 1, "flags": {"SBP": 0}},
    {"name": "fault stays"}]})";

class BenchHostHistory : public ::testing::Test {
protected:
    static inline std::string dir;
    static inline std::string history;
    static inline std::vector<Json::Value> published;  // the bench host's block events

    static void SetUpTestSuite()
    {
        char name[] = "/tmp/quill-hist-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        std::ofstream(dir + "/scenario.json") << kScenario;
        Child sim({QUILL_UPSSIM, "--fast", "--link", dir + "/ups", "--scenario",
                   dir + "/scenario.json"},
                  dir + "/upssim.err");
        for (auto said = sim.ReadLine(seconds(10)); said; said = sim.ReadLine(seconds(10))) {
            if (said->rfind("upssim: UPS on", 0) == 0) {
                break;
            }
        }
        std::ofstream(dir + "/host.json") << R"({"module": ")" << QUILL_MODULE
                                          << R"(", "state_dir": ")" << dir << R"(/state",
            "devices": [{"data_id": 42, "port": ")" << dir << R"(/ups",
                         "poll_interval": 0.02, "answer_timeout": 2}]})";
        const Ran host = Execute({QUILL_SMDHOST, "--json", "--config", dir + "/host.json",
                                  "--cycles", "10"},
                                 dir);
        ASSERT_EQ(host.status, 0) << host.err;
        for (const std::string& line : host.out) {
            const Json::Value event = ParseJson(line);
            if (event["event"].asString() == "block") {
                published.push_back(event["block"]);
            }
        }
        history = dir + "/state/42.history";
    }

    static void TearDownTestSuite() { std::filesystem::remove_all(dir); }
};

TEST_F(BenchHostHistory, EveryBlockReadsBackAsTheBenchHostPublishedIt)
{
    ASSERT_EQ(published.size(), 10u);
    const Ran run = Smdhist({"--json", history}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.out.size(), published.size());
    for (std::size_t i = 0; i < published.size(); ++i) {
        EXPECT_EQ(BytesOfJson(ParseJson(run.out[i])), BytesOfJson(published[i])) << "block " << i;
        EXPECT_EQ(ParseJson(run.out[i])["time_stamp"], published[i]["time_stamp"]);
    }
    const Ran cache = Smdhist({"--json", dir + "/state/42.cache"}, dir);
    ASSERT_EQ(cache.out.size(), 1u);
    EXPECT_EQ(BytesOfJson(ParseJson(cache.out[0])), BytesOfJson(published.back()));
}

TEST_F(BenchHostHistory, SummaryAlarmIntervalsFollowTheScenarioSteps)
{
    const Ran run = Smdhist({"--summary", "--json", history}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json::Value device = ParseJson(run.Out())["devices"][0];
    std::map<std::string, std::string> intervals;
    for (const Json::Value& alarm : device["alarms"]) {
        for (const Json::Value& spell : alarm["intervals"]) {
            intervals[alarm["key"].asString()] +=
                spell["first_block"].asString() + "-" + spell["last_block"].asString() +
                (spell["open"].asBool() ? " open" : "");
        }
    }
    EXPECT_EQ(intervals, (std::map<std::string, std::string>{
                             {"suf", "2-5"}, {"sbm", "2-5"}, {"sbl", "5-5"}, {"sbp", "8-8"},
                             {"sok", "8-10 open"}}));
    EXPECT_EQ(device["blocks"].asUInt(), 10u);
    EXPECT_FLOAT_EQ(device["values"]["DVBT"]["min"].asFloat(), 47.3f);
    EXPECT_EQ(device["values"]["DVBT"]["min_at"], published[4]["time_stamp"]);

    const std::string text = Smdhist({"--summary", history}, dir).Out();
    for (const char* alarm : {"sok 08049 UPS异常 (UPS fault)\n",
                              "suf 08001 市电掉电 (mains failure)\n",
                              "sbm 08037 电池供电告警 / 电池放电 (supply-by-battery alarm / "
                              "battery discharge)\n"}) {
        EXPECT_NE(text.find(alarm), std::string::npos) << alarm << "\n" << text;
    }
}

// ---- Files made here -----------------------------------------------------------------

std::vector<Stored> Awkward()
{
    std::vector<Stored> blocks(4);
    const float values[] = {229.8f, 0.1f, -273.15f, 1e-7f, 3.4028235e38f, 1e-45f, 16777216.0f};
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        blocks[b].data_id = 40 + static_cast<std::uint32_t>(b);
        blocks[b].stamp.second = static_cast<std::uint8_t>(b * 7);
        blocks[b].flags[b] = 1;
        std::size_t v = b;
        for (const auto& field : ups_protocol::kDataFields) {
            blocks[b].values[field.tag] = values[v++ % std::size(values)];
        }
    }
    return blocks;
}

class HistoryFiles : public TempDir {};

TEST_F(HistoryFiles, CsvAndJsonReadBackToTheStoredBytes)
{
    const std::string bytes = Bytes(Awkward());
    const std::string file = Write("1.history", bytes);

    const Ran json = Smdhist({"--json", file}, dir);
    std::string from_json;
    for (const std::string& line : json.out) {
        from_json += BytesOfJson(ParseJson(line));
    }
    EXPECT_EQ(from_json, bytes);

    const Ran csv = Smdhist({"--csv", file}, dir);
    ASSERT_EQ(csv.out.size(), 5u);
    std::string from_csv;
    for (std::size_t i = 1; i < csv.out.size(); ++i) {
        from_csv += BytesOfCsv(csv.out[0], csv.out[i]);
    }
    EXPECT_EQ(from_csv, bytes);
    EXPECT_EQ(json.status + csv.status, 0) << json.err << csv.err;
}

TEST_F(HistoryFiles, OutputThatCannotBeWrittenIsAFailure)
{
    const std::string file = Write("1.history", Bytes(Awkward()));
    const std::string command = std::string(QUILL_SMDHIST) + " --csv " + file + " >/dev/full";
    const Ran run = Execute({"/bin/sh", "-c", command}, dir);
    EXPECT_EQ(run.status, 5);
    EXPECT_NE(run.err.find("cannot write the output: No space left on device"), std::string::npos)
        << run.err;
}

struct Damage {
    const char* name;
    std::optional<std::string> bytes;  // the file; none at all when missing
    Lines args;
    int status;
    std::string said;     // on standard error
    std::size_t rows;     // of the table
    std::string in_rows;  // in the table
};

// `size` bytes of text a script appended to a history.
std::string Junk(std::size_t size)
{
    std::string text;
    while (text.size() < size) {
        text += "garbage written by a careless script; ";
    }
    return text.substr(0, size);
}

std::vector<Damage> Damages()
{
    const std::string three = Bytes(std::vector<Stored>(3));
    Stored bad;
    bad.flags[1] = 7;
    bad.stamp.month = 13;
    return {
        {"torn_tail_of_one_byte", three + "x", {}, 1,
         "FILE: the last byte (from byte 228) is no whole block and was ignored", 3, ""},
        {"damaged_block", Bytes(Stored()) + Bytes(bad) + Bytes(Stored()), {}, 1,
         "block 2 (byte 76 of FILE) is damaged: flag SBP is 7; impossible time stamp "
         "2026-13-01T10:00:00",
         3, "  ! flag SBP is 7; impossible time stamp"},
        {"junk_appended", three + Junk(200), {}, 1,
         "FILE: the last 200 bytes (from byte 228) are not a block and were ignored", 3, ""},
        {"empty", "", {}, 3, "FILE: empty: no block stored yet", 0, ""},
        {"shorter_than_a_block", std::string(40, 'x'), {}, 3,
         "FILE: no whole block: 40 bytes, and a block is 76", 0, ""},
        {"missing", std::nullopt, {}, 4, "FILE: cannot read: No such file or directory", 0, ""},
        {"bad_time", three, {"--from", "yesterday"}, 2, "not a time: yesterday", 0, ""},
    };
}

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

class DamagedHistory : public TempDir, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedHistory, IsReportedWithItsOwnExitStatusAndNothingSoundIsLost)
{
    const Damage& damage = GetParam();
    const std::string file = damage.bytes ? Write("1.history", *damage.bytes) : dir + "/1.history";
    Lines args = damage.args;
    args.push_back(file);
    const Ran run = Smdhist(args, dir);

    EXPECT_EQ(run.status, damage.status) << run.err;
    std::string said = damage.said;
    if (said.find("FILE") != std::string::npos) {
        said.replace(said.find("FILE"), 4, file);
    }
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    EXPECT_EQ(run.out.size(), damage.rows == 0 ? 0 : damage.rows + 1) << run.Out();
    EXPECT_NE(run.Out().find(damage.in_rows), std::string::npos) << run.Out();
}

INSTANTIATE_TEST_SUITE_P(EveryDamage, DamagedHistory, ::testing::ValuesIn(Damages()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistoryFiles, SummaryGivesRangesGapsAndLeavesDamagedBlocksOut)
{
    std::vector<Stored> blocks(6);
    const float battery[] = {54, 50, 44, 52, 54, 0};
    const std::uint8_t minutes[] = {0, 0, 0, 10, 10, 10};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        blocks[i].stamp.minute = minutes[i];
        blocks[i].stamp.second = static_cast<std::uint8_t>(10 * i);
        blocks[i].values["DVBT"] = battery[i];
    }
    blocks[5].flags[0] = 2;
    const Ran run = Smdhist({"--summary", "--json", Write("1.history", Bytes(blocks))}, dir);
    EXPECT_EQ(run.status, 1);

    const Json::Value summary = ParseJson(run.Out());
    const Json::Value device = summary["devices"][0];
    const Json::Value dvbt = device["values"]["DVBT"];
    EXPECT_EQ(dvbt["min"].asDouble(), 44);
    EXPECT_EQ(dvbt["min_at"].asString(), "2026-03-01T10:00:20+02:00");
    EXPECT_EQ(dvbt["max"].asDouble(), 54);
    EXPECT_EQ(dvbt["max_at"].asString(), "2026-03-01T10:00:00+02:00");
    EXPECT_DOUBLE_EQ(dvbt["mean"].asDouble(), 50.8);
    ASSERT_EQ(device["gaps"].size(), 1u);
    EXPECT_EQ(device["gaps"][0]["from"].asString(), "2026-03-01T10:00:20+02:00");
    EXPECT_EQ(device["gaps"][0]["seconds"].asInt(), 610);
    EXPECT_EQ(device["usual_step_seconds"].asInt(), 10);
    EXPECT_EQ(summary["damaged_blocks"].asUInt(), 1u);
}

struct Choice {
    const char* name;
    Lines args;
    Lines stamps;  // the blocks shown
};

void PrintTo(const Choice& choice, std::ostream* out) { *out << choice.name; }

// Each option of the choice through the program; tools_tests' Choosing has
// every combination, HistTimeTest every way of writing a time.
class ChosenBlocks : public TempDir, public ::testing::WithParamInterface<Choice> {};

TEST_P(ChosenBlocks, AreThoseOfTheRangeTheDeviceAndTheCount)
{
    std::vector<Stored> blocks(5);
    const ttime stamps[] = {{2026, 3, 1, 10, 0, 0}, {2026, 3, 1, 10, 0, 30},
                            {2026, 3, 1, 10, 1, 0}, {2026, 3, 1, 10, 1, 59},
                            {2026, 3, 2, 9, 0, 0}};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        blocks[i].stamp = stamps[i];
    }
    blocks[2].data_id = 7;
    Lines args = GetParam().args;
    args.insert(args.end(), {"--csv", Write("1.history", Bytes(blocks))});
    const Ran run = Smdhist(args, dir);

    Lines shown;
    for (std::size_t i = 1; i < run.out.size(); ++i) {
        shown.push_back(run.out[i].substr(11, 8));
    }
    EXPECT_EQ(shown, GetParam().stamps) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    EveryChoice, ChosenBlocks,
    ::testing::Values(
        Choice{"from_local_minute", {"--from", "2026-03-01T10:01"},
               {"10:01:00", "10:01:59", "09:00:00"}},
        Choice{"to_the_end_of_a_day", {"--from", "2026-03-02", "--to", "2026-03-02"}, {"09:00:00"}},
        Choice{"last_of_a_device", {"--data-id", "42", "--last", "2"}, {"10:01:59", "09:00:00"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The picture ---------------------------------------------------------------------

class Picture : public TempDir, public ::testing::WithParamInterface<const char*> {
protected:
    std::string History()
    {
        std::vector<Stored> blocks = Awkward();
        for (Stored& block : blocks) {
            block.data_id = 42;
        }
        return Write("1.history", Bytes(blocks));
    }
};

std::uint32_t BigEndian(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

TEST_P(Picture, IsAValidImageOfTheAskedSize)
{
    const std::string picture = dir + "/plot" + GetParam();
    const Ran run = Smdhist({"--plot", picture, "--size", "900x760", History()}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.size(), 0u);
    EXPECT_NE(run.err.find("picture written to " + picture), std::string::npos);
    const std::string image = ReadFile(picture);
    if (std::string(GetParam()) == ".png") {
        ASSERT_GT(image.size(), 24u);
        EXPECT_EQ(image.substr(0, 8), "\x89PNG\r\n\x1a\n");
        EXPECT_EQ(image.substr(12, 4), "IHDR");
        EXPECT_EQ(BigEndian(image, 16), 900u);
        EXPECT_EQ(BigEndian(image, 20), 760u);
        return;
    }
    EXPECT_EQ(image.rfind("<?xml", 0), 0u);
    EXPECT_NE(image.find("width=\"900\" height=\"760\""), std::string::npos);
    EXPECT_NE(image.find("</svg>"), std::string::npos);
    for (const auto& field : ups_protocol::kDataFields) {
        // Each named in the key, maybe with the series whose line it lies on.
        EXPECT_NE(image.find(std::string(">") + field.tag), std::string::npos) << field.tag;
    }
    for (const char* alarm : {">sok UPS fault<", ">sbp supply by bypass<", ">suf mains failure<",
                              ">sbl low voltage<", ">sbm supply-by-battery alarm<"}) {
        EXPECT_NE(image.find(alarm), std::string::npos) << alarm;
    }
}

INSTANTIATE_TEST_SUITE_P(SvgAndPng, Picture, ::testing::Values(".svg", ".png"),
                         [](const auto& info) { return std::string(info.param + 1); });

TEST_P(Picture, IsRefusedWithoutGnuplotNamingThePackage)
{
    const Ran run = Smdhist({"--plot", dir + "/plot" + GetParam(), History()}, dir,
                            {"PATH=" + dir});
    EXPECT_EQ(run.status, 5);
    EXPECT_NE(run.err.find("install the Debian package gnuplot-nox"), std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir + "/plot" + GetParam()));
}

TEST_P(Picture, IsNotWrittenThroughALinkNorOverAnythingButAFileNorIntoASharedFolder)
{
    const std::string target = Write("target", "keep");
    const std::string link = dir + "/link" + GetParam();
    const std::string fifo = dir + "/fifo" + GetParam();
    const std::string shared = dir + "/shared";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    const std::string history = History();
    const std::pair<std::string, std::string> refusals[] = {
        {link, "refusing " + link + ": it is a symbolic link"},
        {fifo, "refusing " + fifo + ": it is a FIFO"},
        {shared + "/plot" + GetParam(), "refusing the folder " + shared + ": others can write"},
    };
    for (const auto& [path, message] : refusals) {
        const Ran run = Smdhist({"--plot", path, history}, dir);
        EXPECT_EQ(run.status, 5);
        EXPECT_NE(run.err.find("no picture: " + message), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(target), "keep");
    EXPECT_FALSE(std::filesystem::exists(shared + "/plot" + GetParam()));
    const std::string accepted = shared + "/plot" + GetParam();
    EXPECT_EQ(Smdhist({"--plot", accepted, "--allow-shared-dir", history}, dir).status, 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(accepted));
}

}  // namespace

// ---- The drawing commands ------------------------------------------------------------

// The lines of the gnuplot script `--plot FILE.gp` wrote: the script smdhist runs.
class DrawingCommands : public TempDir {
protected:
    std::string Script(const std::vector<Stored>& blocks, const Lines& more = {})
    {
        Lines args = more;
        args.insert(args.end(), {"--plot", dir + "/plot.gp", Write("1.history", Bytes(blocks))});
        const Ran run = Smdhist(args, dir);
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadFile(dir + "/plot.gp");
    }
};

// The rows of a datablock ("$values << EOD" to "EOD"), blank lines kept.
Lines DataRows(const std::string& script, const std::string& name)
{
    Lines rows;
    std::istringstream in(script.substr(script.find("$" + name + " << EOD\n")));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line) && line != "EOD") {
        rows.push_back(line);
    }
    return rows;
}

// The text after `head` up to the end of its line, for the panel titled `panel`.
std::string PanelLine(const std::string& script, const std::string& panel, const std::string& head)
{
    const std::size_t at = script.find(head, script.find("set key title '" + panel + "'"));
    return script.substr(at + head.size(), script.find('\n', at) - at - head.size());
}

double Seconds(const std::string& stamp_row) { return std::strtod(stamp_row.c_str(), nullptr); }

// Four blocks a second apart, a gap of a minute, four more; the UPS fault on
// across the gap, battery discharge on one block after it.
std::vector<Stored> AcrossAGap()
{
    std::vector<Stored> blocks(8);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        blocks[i].stamp.second = static_cast<std::uint8_t>(i < 4 ? i : 60 + i - 4 - 60);
        blocks[i].stamp.minute = i < 4 ? 0 : 1;
        blocks[i].values = {{"DVIA", 230.5f}, {"DVIB", 229.8f}, {"DVIC", 231.1f},
                            {"DVOA", 220.0f}, {"DVOB", 220.1f}, {"DVOC", 219.9f},
                            {"DTMP", 28.5f},  {"DVBT", 54.6f - static_cast<float>(i)}};
        blocks[i].flags[0] = i >= 2 && i <= 5 ? 1 : 0;  // SOK
        blocks[i].flags[4] = i == 6 ? 1 : 0;            // SBM
    }
    // Mains failed at first: the inputs' axis runs from 0.
    blocks[0].values["DVIA"] = blocks[0].values["DVIB"] = blocks[0].values["DVIC"] = 0;
    return blocks;
}

TEST_F(DrawingCommands, RangesArePaddedAndLinesThatCoincideAreNamed)
{
    const std::string script = Script(AcrossAGap());
    double low = 0;
    double high = 0;
    ASSERT_EQ(std::sscanf(PanelLine(script, "output voltage", "set yrange [").c_str(), "%lf:%lf",
                          &low, &high),
              2);
    // Nothing on the frame: DVOC 219.9 and DVOB 220.1 lie inside.
    EXPECT_LT(low, 219.9 - 0.01);
    EXPECT_GT(high, 220.1 + 0.01);
    // A constant series gets its one value.
    EXPECT_EQ(PanelLine(script, "temperature", "set ytics "), "('28.5' 28.5)");
    // Three lines under a pixel apart on a 0-250 axis: told apart by their
    // dashes, and the key says they lie on one another.
    const std::string inputs = PanelLine(script, "input voltage", "plot ");
    EXPECT_NE(inputs.find("dt 1 lc rgb '#000000' title 'DVIA'"), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("dt 2 lc rgb '#009e73' title 'DVIB on DVIA ±0.7'"), std::string::npos)
        << inputs;
    EXPECT_NE(inputs.find("title 'DVIC on DVIA ±0.6'"), std::string::npos) << inputs;
    // A tenth of a volt apart on their own axis: lines of their own.
    EXPECT_NE(PanelLine(script, "output voltage", "plot ").find("title 'DVOB'"),
              std::string::npos);
}

TEST_F(DrawingCommands, LinesBarsAndShadingStopAtGapsInTheAlarmsOwnColours)
{
    const std::string script = Script(AcrossAGap());
    const Lines values = DataRows(script, "values");
    ASSERT_EQ(values.size(), 9u);
    EXPECT_EQ(values[4], "") << "the break in the lines between the two spells of blocks";
    const double before_gap = Seconds(values[3]);
    const double after_gap = Seconds(values[5]);
    EXPECT_EQ(after_gap - before_gap, 57);

    // Bars: "centre row half-width colour"; the fault's row is 5, discharge's 1.
    std::map<int, std::vector<std::pair<double, double>>> bars;
    std::map<int, long> colour;
    for (const std::string& row : DataRows(script, "alarms")) {
        double centre = 0;
        double half = 0;
        int line = 0;
        long rgb = 0;
        ASSERT_EQ(std::sscanf(row.c_str(), "%lf %d %lf %ld", &centre, &line, &half, &rgb), 4);
        bars[line].emplace_back(centre - half, centre + half);
        colour[line] = rgb;
    }
    // The fault: from block 3 to the last block before the gap, then from the
    // first after it to the first block with the flag at 0 again.
    ASSERT_EQ(bars[5].size(), 2u);
    EXPECT_EQ(bars[5][0], std::make_pair(before_gap - 1, before_gap));
    EXPECT_EQ(bars[5][1], std::make_pair(after_gap, after_gap + 2));
    ASSERT_EQ(bars[1].size(), 1u);
    EXPECT_NE(colour[5], colour[1]);

    // Shading: no rectangle over the gap, each in the pale colour of a bar.
    const auto pale = [](long rgb) {
        long mixed = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const long channel = rgb >> shift & 0xff;
            mixed |= (channel + (255 - channel) * 4 / 5) << shift;
        }
        char text[24];
        std::snprintf(text, sizeof(text), "#%06lx", mixed);
        return std::string(text);
    };
    std::istringstream lines(script);
    int shaded = 0;
    for (std::string line; std::getline(lines, line);) {
        double from = 0;
        double to = 0;
        char rgb[16] = {};
        if (std::sscanf(line.c_str(), "set object %*d rect from %lf, graph %*f to %lf, graph %*f "
                                      "behind fc rgb '%7s'",
                        &from, &to, rgb) != 3) {
            continue;
        }
        ++shaded;
        EXPECT_FALSE(from < after_gap && to > before_gap) << line;
        EXPECT_TRUE(rgb == pale(colour[5]) || rgb == pale(colour[1])) << line;
    }
    EXPECT_EQ(shaded, 3);
}

TEST_F(DrawingCommands, AClockSetBackIsDrawnInTimeOrderWithANote)
{
    std::vector<Stored> blocks(5);
    const std::uint8_t seconds[] = {0, 20, 40, 10, 30};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        blocks[i].stamp.second = seconds[i];
        blocks[i].values["DVBT"] = static_cast<float>(seconds[i]);
    }
    const std::string script = Script(blocks);
    EXPECT_NE(script.find("the clock went back 1 time: the blocks are drawn in time order"),
              std::string::npos);
    double last = 0;
    for (const std::string& row : DataRows(script, "values")) {
        ASSERT_FALSE(row.empty());
        EXPECT_GT(Seconds(row), last) << row;
        last = Seconds(row);
    }
}

TEST_F(DrawingCommands, ASizeBelowTheSmallestIsRefusedNamingIt)
{
    for (const char* size : {"639x720", "640x719"}) {
        const Ran run = Smdhist({"--plot", dir + "/p.png", "--size", size, dir + "/none"}, dir);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("not a size from 640x720 (the smallest at which every label fits)"),
                  std::string::npos)
            << run.err;
    }
    Script(AcrossAGap(), {"--size", "640x720"});
}
