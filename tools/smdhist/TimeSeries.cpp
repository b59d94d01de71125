#include "tools/smdhist/TimeSeries.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "tools/common/MetricNames.h"

namespace {

// More data identifiers than this in one exposition are refused.
constexpr std::size_t kMostDevices = 100;
// Blocks kept in memory per data identifier before they go to disk.
constexpr std::size_t kChunk = 1024;
// The columns of a kept block: its values, then its flags (as 0 or 1).
constexpr std::size_t kColumns = data_block::kValues + data_block::kFlags;

}  // namespace

// One data identifier's blocks, waiting in a file of their own by column: a
// chunk holds the stamps, then each value and flag apart, so that one metric
// family reads back its own column and the stamps, not every block whole.
struct TimeSeries::Series {
    struct Chunk {
        std::size_t count = 0;
        std::array<std::int64_t, kChunk> epochs{};
        std::array<std::array<float, kChunk>, kColumns> columns{};
    };

    std::string path;
    int fd = -1;
    Chunk held;                        // not yet on disk
    std::vector<std::size_t> written;  // the blocks in each chunk on disk

    ~Series()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    std::string Add(const data_block::Decoded& block, std::int64_t epoch)
    {
        held.epochs[held.count] = epoch;
        for (std::size_t v = 0; v < data_block::kValues; ++v) {
            held.columns[v][held.count] = block.values[v];
        }
        for (std::size_t f = 0; f < data_block::kFlags; ++f) {
            held.columns[data_block::kValues + f][held.count] = block.flags[f];
        }
        return ++held.count == kChunk ? Store() : "";
    }

    // The held chunk onto the disk, in its place.
    std::string Store()
    {
        if (held.count == 0) {
            return "";
        }
        const auto at = static_cast<off_t>(written.size() * sizeof(Chunk));
        if (pwrite(fd, &held, sizeof(Chunk), at) != static_cast<ssize_t>(sizeof(Chunk))) {
            return "cannot write " + path + ": " + std::strerror(errno);
        }
        written.push_back(held.count);
        held.count = 0;
        return "";
    }

    // Hands on the stamps and one column, chunk by chunk.
    template <typename Take>
    std::string Read(std::size_t column, Chunk& chunk, Take take)
    {
        for (std::size_t i = 0; i < written.size(); ++i) {
            const auto at = static_cast<off_t>(i * sizeof(Chunk));
            const std::size_t count = written[i];
            const auto column_at = at + static_cast<off_t>(offsetof(Chunk, columns) +
                                                           column * sizeof(chunk.columns[0]));
            if (pread(fd, chunk.epochs.data(), count * sizeof(std::int64_t),
                      at + static_cast<off_t>(offsetof(Chunk, epochs))) < 0 ||
                pread(fd, chunk.columns[column].data(), count * sizeof(float), column_at) < 0) {
                return "cannot read " + path + ": " + std::strerror(errno);
            }
            take(chunk.epochs.data(), chunk.columns[column].data(), count);
        }
        return "";
    }
};

TimeSeries::TimeSeries(std::FILE* out, Format format) : format_(format), out_(out) {}

TimeSeries::~TimeSeries() = default;

void TimeSeries::Add(const Entry& entry)
{
    if (!entry.Sound()) {
        ++damaged_;
        return;
    }
    const std::uint32_t data_id = entry.block.data_id;
    const auto last = last_.find(data_id);
    if (last != last_.end() && *entry.epoch <= last->second) {
        ++out_of_order_;
        return;
    }
    last_[data_id] = *entry.epoch;
    if (format_ == Format::Influx) {
        WriteLine(entry);
        out_.Row();
        return;
    }
    if (error_.empty()) {
        error_ = Spill(entry);
    }
}

// ups,data_id=1001 sok=0i,...,dvia=230.5,... 1796772375
void TimeSeries::WriteLine(const Entry& entry)
{
    const data_block::Decoded& block = entry.block;
    out_ << metric_names::kMeasurement << ',' << metric_names::kDataIdLabel << '=';
    out_.Unsigned(block.data_id);
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        out_ << (i == 0 ? ' ' : ',') << metric_names::FlagKey(i) << '=';
        out_.Unsigned(block.flags[i]);
        out_ << 'i';
    }
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        // The line protocol has no word for what is no number or infinite: the
        // field is left out, an infinity counted.
        const float value = block.values[i];
        if (std::isfinite(value)) {
            out_ << ',' << metric_names::ValueKey(i) << '=';
            out_.Float(value);
        } else if (std::isinf(value) && ++infinite_ == 1) {
            first_infinite_ = std::string(data_block::ValueFields()[i]->tag) + " of block " +
                              std::to_string(entry.number);
        }
    }
    out_ << ' ';
    out_.Signed(*entry.epoch);
    out_ << '\n';
}

std::string TimeSeries::Spill(const Entry& entry)
{
    auto& series = spilled_[entry.block.data_id];
    if (!series) {
        if (spilled_.size() > kMostDevices) {
            return "the blocks chosen are of more than " + std::to_string(kMostDevices) +
                   " data identifiers: choose fewer with --data-id";
        }
        if (!dir_) {
            dir_ = std::make_unique<PrivateDir>();
            if (dir_->Path().empty()) {
                return dir_->Error();
            }
        }
        series = std::make_unique<Series>();
        series->path = dir_->Path() + "/" + std::to_string(entry.block.data_id) + ".blocks";
        series->fd = ::open(series->path.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (series->fd < 0) {
            return "cannot make " + series->path + ": " + std::strerror(errno);
        }
    }
    ++waiting_;
    return series->Add(entry.block, *entry.epoch);
}

std::string TimeSeries::Flush()
{
    // A follower with nothing new writes nothing, not an empty exposition.
    if (format_ == Format::OpenMetrics && error_.empty() && waiting_ > 0) {
        error_ = WriteFamilies();
        waiting_ = 0;
    }
    out_.Flush();
    return error_;
}

namespace {

// The text of a sample's value: its shortest exact decimal, NaN, +Inf or -Inf.
char* SampleValue(float value, char* text)
{
    if (std::isfinite(value)) {
        return data_block::ValueChars(value, text);
    }
    const std::string_view word = std::isnan(value) ? "NaN" : value < 0 ? "-Inf" : "+Inf";
    std::memcpy(text, word.data(), word.size());
    return text + word.size();
}

}  // namespace

// Each family in turn, each data identifier's samples together, in time order.
std::string TimeSeries::WriteFamilies()
{
    for (auto& [data_id, series] : spilled_) {
        if (std::string error = series->Store(); !error.empty()) {
            return error;
        }
    }
    auto chunk = std::make_unique<Series::Chunk>();
    // Each line whole in one piece: a million blocks are twenty million lines.
    const auto family = [&](std::size_t column, const std::string& name, const std::string& help,
                            const char* tag, auto value) {
        out_ << "# TYPE " << name << " gauge\n# HELP " << name << ' ' << help << '\n';
        for (auto& [data_id, series] : spilled_) {
            const std::string labels = metric_names::Series(name, data_id, tag) + " ";
            char line[256];
            std::memcpy(line, labels.data(), labels.size());
            const std::string error = series->Read(
                column, *chunk, [&](const std::int64_t* epochs, const float* values, std::size_t count) {
                    for (std::size_t i = 0; i < count; ++i) {
                        char* at = value(values[i], line + labels.size());
                        *at++ = ' ';
                        at = std::to_chars(at, line + sizeof(line), epochs[i]).ptr;
                        *at++ = '\n';
                        out_ << std::string_view(line, static_cast<std::size_t>(at - line));
                        out_.Row();
                    }
                });
            if (!error.empty()) {
                return error;
            }
        }
        return std::string();
    };
    for (std::size_t v = 0; v < data_block::kValues; ++v) {
        const char* tag = data_block::ValueFields()[v]->tag;
        std::string error =
            family(v, metric_names::ValueFamily(v), metric_names::ValueHelp(v), tag, SampleValue);
        if (!error.empty()) {
            return error;
        }
    }
    for (std::size_t f = 0; f < data_block::kFlags; ++f) {
        std::string error = family(data_block::kValues + f, metric_names::FlagFamily(f),
                                   metric_names::FlagHelp(f), ups_protocol::kStatusFields[f].tag,
                                   [](float flag, char* at) {
                                       *at = flag > 0 ? '1' : '0';
                                       return at + 1;
                                   });
        if (!error.empty()) {
            return error;
        }
    }
    out_ << "# EOF\n";
    for (auto& [data_id, series] : spilled_) {
        series->written.clear();
        if (ftruncate(series->fd, 0) != 0) {
            return "cannot empty " + series->path + ": " + std::strerror(errno);
        }
    }
    return "";
}
