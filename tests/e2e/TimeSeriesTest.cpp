// smdhist's time series taken in by the real databases: Prometheus's promtool
// turns --openmetrics into TSDB blocks, and a private InfluxDB takes
// --influx; what they read back is the stored floats and times exactly.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/SmdhistRun.h"
#include "tests/e2e/LoopbackPort.h"
#include "tests/support/HistoryMaker.h"

namespace {

using history_maker::Bytes;
using history_maker::Stored;

// Values that show any rounding: the shortest decimals of floats, the
// smallest and greatest, a power of two past a float's integers, no number.
const float kAwkward[] = {229.8f, 0.1f, -273.15f, 1e-7f, 3.4028235e38f, 1e-45f, 16777216.0f,
                          13.6f, NAN, 54.6f, -0.0f};

// Two devices' blocks a few seconds apart, every value and flag moving.
std::vector<Stored> Blocks()
{
    std::vector<Stored> blocks;
    for (std::size_t b = 0; b < 9; ++b) {
        Stored stored;
        stored.data_id = b < 6 ? 42 : 7;
        stored.stamp = history_maker::StampAfter(5184000 + static_cast<std::int64_t>(b) * 7);
        stored.flags[b % 5] = 1;
        std::size_t v = b;
        for (const auto& field : ups_protocol::kDataFields) {
            stored.values[field.tag] = kAwkward[v++ % std::size(kAwkward)];
        }
        blocks.push_back(stored);
    }
    return blocks;
}

// The instant of a stamp in the tests' zone, two hours east of UTC.
std::int64_t EpochOf(const ttime& stamp)
{
    std::tm utc{};
    utc.tm_year = stamp.year - 1900;
    utc.tm_mon = stamp.month - 1;
    utc.tm_mday = stamp.day;
    utc.tm_hour = stamp.hour - 2;
    utc.tm_min = stamp.minute;
    utc.tm_sec = stamp.second;
    return timegm(&utc);
}

// What a database holds for one series at one time: (family or field, data id, seconds).
using Key = std::tuple<std::string, std::string, std::int64_t>;

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Every stored value and flag must be read back as the same float, at the block's time.
void ExpectEveryValue(const std::vector<Stored>& blocks, const std::map<Key, double>& read,
                      const std::string& prefix)
{
    for (const Stored& block : blocks) {
        const std::int64_t epoch = EpochOf(block.stamp);
        const std::string id = std::to_string(block.data_id);
        for (const auto& [tag, value] : block.values) {
            const auto found = read.find({prefix + Lower(tag), id, epoch});
            if (std::isnan(value)) {
                EXPECT_TRUE(found == read.end() || std::isnan(found->second)) << tag;
                continue;
            }
            ASSERT_NE(found, read.end()) << tag << " of " << id << " at " << epoch;
            EXPECT_EQ(static_cast<float>(found->second), value) << tag << " of " << id;
            EXPECT_EQ(std::signbit(found->second), std::signbit(value)) << tag;
        }
        for (std::size_t f = 0; f < block.flags.size(); ++f) {
            const std::string tag = ups_protocol::kStatusFields[f].tag;
            const std::string name = prefix == "ups_" ? "ups_alarm_" + Lower(tag) : Lower(tag);
            const auto found = read.find({name, id, epoch});
            ASSERT_NE(found, read.end()) << tag;
            EXPECT_EQ(found->second, block.flags[f]) << tag;
        }
    }
}

// A program of a Debian package the suite installs (cmake/install-deps.sh tsdb).
std::string Tool(const std::string& name, const std::string& package)
{
    for (const char* dir : {"/usr/bin/", "/usr/sbin/"}) {
        if (access((dir + name).c_str(), X_OK) == 0) {
            return dir + name;
        }
    }
    ADD_FAILURE() << name << " is missing: install the Debian package " << package
                  << " (cmake/install-deps.sh tsdb)";
    return name;
}

class TimeSeries : public TempDir {};

TEST_F(TimeSeries, OpenMetricsBecomesPrometheusBlocksThatHoldTheStoredFloatsAndTimes)
{
    const std::string promtool = Tool("promtool", "prometheus");
    const std::vector<Stored> blocks = Blocks();
    const std::string history = Write("42.history", Bytes(blocks));
    // The commands of README's "Sending history to a time-series database".
    const Ran written = Shell(std::string(QUILL_SMDHIST) + " --openmetrics " + history + " > " +
                                  dir + "/history.om",
                              dir);
    ASSERT_EQ(written.status, 0) << written.err;
    const Ran created = Execute(
        {promtool, "tsdb", "create-blocks-from", "openmetrics", dir + "/history.om", dir + "/data"},
        dir);
    ASSERT_EQ(created.status, 0) << created.Out() << created.err;
    std::filesystem::create_directories(dir + "/data/wal");
    const Ran dump = Execute({promtool, "tsdb", "dump", dir + "/data"}, dir);
    ASSERT_EQ(dump.status, 0) << dump.err;

    // {__name__="ups_dvia", data_id="42", tag="DVIA"} 229.8 1777593600000
    std::map<Key, double> read;
    for (const std::string& line : dump.out) {
        char name[64];
        char id[16];
        char tag[16];
        char value[64];
        long long millis = 0;
        ASSERT_EQ(std::sscanf(line.c_str(),
                              "{__name__=\"%63[^\"]\", data_id=\"%15[^\"]\", tag=\"%15[^\"]\"} "
                              "%63s %lld",
                              name, id, tag, value, &millis),
                  5)
            << line;
        EXPECT_EQ(millis % 1000, 0) << line;
        read[{name, id, millis / 1000}] = std::strtod(value, nullptr);
    }
    EXPECT_EQ(read.size(), blocks.size() * 20);
    ExpectEveryValue(blocks, read, "ups_");
}

std::vector<std::string> Cells(const std::string& line)
{
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) {
        cells.push_back(cell);
    }
    if (!line.empty() && line.back() == ',') {
        cells.emplace_back();
    }
    return cells;
}

TEST_F(TimeSeries, InfluxLinesBecomeInfluxDBPointsThatHoldTheStoredFloatsAndTimes)
{
    const std::string influxd = Tool("influxd", "influxdb");
    const std::string curl = Tool("curl", "curl");
    const std::string http = "127.0.0.1:" + std::to_string(FreePort());
    // A private server: its data in the test's folder, on the loopback only.
    std::ofstream(dir + "/influxdb.conf")
        << "reporting-enabled = false\nbind-address = \"127.0.0.1:" << FreePort()
        << "\"\n[meta]\n  dir = \"" << dir << "/meta\"\n[data]\n  dir = \"" << dir
        << "/data\"\n  wal-dir = \"" << dir << "/wal\"\n  query-log-enabled = false\n"
        << "[monitor]\n  store-enabled = false\n[http]\n  bind-address = \"" << http
        << "\"\n  log-enabled = false\n[continuous_queries]\n  enabled = false\n";
    Child server({influxd, "-config", dir + "/influxdb.conf"}, dir + "/influxd.err");
    const std::string url = "http://" + http;
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        up = Execute({curl, "-sf", url + "/ping"}, dir).status == 0;
        if (!up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ASSERT_TRUE(up) << ReadFile(dir + "/influxd.err");

    const std::vector<Stored> blocks = Blocks();
    const std::string history = Write("42.history", Bytes(blocks));
    // The commands of README's "Sending history to a time-series database".
    ASSERT_EQ(Shell(std::string(QUILL_SMDHIST) + " --influx " + history + " > " + dir + "/history.lp", dir).status, 0);
    ASSERT_EQ(Execute({curl, "-sf", "-XPOST", url + "/query", "--data-urlencode", "q=CREATE DATABASE ups"}, dir).status, 0);
    const Ran wrote = Execute({curl, "-sf", "-XPOST", url + "/write?db=ups&precision=s",
                               "--data-binary", "@" + dir + "/history.lp"},
                              dir);
    ASSERT_EQ(wrote.status, 0) << wrote.Out() << ReadFile(dir + "/influxd.err");
    // As CSV: the numbers as InfluxDB writes them, read here with their sign.
    const Ran query = Execute({curl, "-sf", "-G", "-H", "Accept: application/csv", url + "/query",
                               "--data-urlencode", "db=ups", "--data-urlencode", "epoch=s",
                               "--data-urlencode", "q=SELECT * FROM ups"},
                              dir);
    ASSERT_EQ(query.status, 0) << query.err;
    ASSERT_GT(query.out.size(), 1u);
    // name,tags,time,data_id,dhzf,...
    const std::vector<std::string> columns = Cells(query.out[0]);
    std::map<Key, double> read;
    for (std::size_t r = 1; r < query.out.size(); ++r) {
        const std::vector<std::string> cells = Cells(query.out[r]);
        std::map<std::string, std::string> cell;
        for (std::size_t c = 0; c < columns.size() && c < cells.size(); ++c) {
            cell[columns[c]] = cells[c];
        }
        for (const auto& [column, text] : cell) {
            if (column != "name" && column != "tags" && column != "time" && column != "data_id" &&
                !text.empty()) {
                read[{column, cell["data_id"], std::stoll(cell["time"])}] =
                    std::strtod(text.c_str(), nullptr);
            }
        }
    }
    EXPECT_EQ(query.out.size(), blocks.size() + 1);
    ExpectEveryValue(blocks, read, "");
}

}  // namespace
