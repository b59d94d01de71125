#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "tools/smdhist/BlockStream.h"
#include "tools/smdhist/OutBuffer.h"
#include "tools/smdhist/OutputFile.h"

// The chosen blocks for a time-series database: each value and each alarm
// flag a series, labelled with the data identifier and the tag, stamped with
// the block's time. A series takes one value per time, in time order: a block
// stamped at or before the last one taken of its data identifier (a clock set
// back) is left out and counted, and so is a damaged block. The line
// protocol has no word for an infinite value: it is left out and counted.
class TimeSeries {
public:
    enum class Format {
        OpenMetrics,  // the text format Prometheus's promtool turns into TSDB blocks
        Influx,       // InfluxDB line protocol, time stamps in seconds
    };

    TimeSeries(std::FILE* out, Format format);
    ~TimeSeries();

    void Add(const Entry& entry);

    // Writes what was added since the last call. OpenMetrics groups each
    // metric family's samples, so its blocks wait here (on disk, in a
    // private folder) and come out as one exposition ending in "# EOF".
    // Answers what went wrong, or an empty text.
    std::string Flush();

    std::uint64_t Damaged() const { return damaged_; }
    std::uint64_t OutOfOrder() const { return out_of_order_; }
    std::uint64_t Infinite() const { return infinite_; }
    // "DHZF of block 7": the first infinite value left out.
    const std::string& FirstInfinite() const { return first_infinite_; }

private:
    struct Series;

    std::string Spill(const Entry& entry);
    void WriteLine(const Entry& entry);
    std::string WriteFamilies();

    Format format_;
    OutBuffer out_;
    std::map<std::uint32_t, std::int64_t> last_;  // the last stamp taken, by data id
    std::map<std::uint32_t, std::unique_ptr<Series>> spilled_;
    std::unique_ptr<PrivateDir> dir_;
    std::string error_;
    std::uint64_t waiting_ = 0;  // blocks added since the last exposition
    std::uint64_t damaged_ = 0;
    std::uint64_t out_of_order_ = 0;
    std::uint64_t infinite_ = 0;
    std::string first_infinite_;
};
