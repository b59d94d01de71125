#include "tools/smdhist/TimeSeries.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "tools/common/AlarmTexts.h"

namespace {

// More data identifiers than this in one exposition are refused.
constexpr std::size_t kMostDevices = 100;
constexpr std::size_t kBlocksPerRead = 4096;

// A block kept for the exposition: the decoded block and its instant.
struct Kept {
    data_block::Decoded block;
    std::int64_t epoch;
};

std::string Lower(const char* tag)
{
    std::string name = tag;
    for (char& c : name) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return name;
}

// The line protocol's field keys: the record's own names ("sok", "dvia").
const std::array<std::string, data_block::kFlags + data_block::kValues>& FieldKeys()
{
    static const auto keys = [] {
        std::array<std::string, data_block::kFlags + data_block::kValues> names;
        for (std::size_t i = 0; i < data_block::kFlags; ++i) {
            names[i] = Lower(ups_protocol::kStatusFields[i].tag);
        }
        for (std::size_t i = 0; i < data_block::kValues; ++i) {
            names[data_block::kFlags + i] = Lower(data_block::ValueFields()[i]->tag);
        }
        return names;
    }();
    return keys;
}

// "ups_dvia", "ups_alarm_sok": the metric family of a value or flag.
std::string ValueFamily(std::size_t value)
{
    return "ups_" + Lower(data_block::ValueFields()[value]->tag);
}

std::string FlagFamily(std::size_t flag)
{
    return "ups_alarm_" + Lower(ups_protocol::kStatusFields[flag].tag);
}

std::string FlagHelp(std::size_t flag)
{
    const ups_protocol::Alarm& alarm = alarm_texts::AlarmOf(flag);
    return std::string("1 while the alarm ") + alarm.alarm_id + " " + alarm.first_text + " (" +
           alarm_texts::Find(alarm.signal_key)->first_text + ", key " + alarm.signal_key +
           ") is on, else 0";
}

}  // namespace

// One data identifier's blocks, waiting in a file of their own.
struct TimeSeries::Series {
    std::string path;
    std::FILE* file = nullptr;

    ~Series()
    {
        if (file != nullptr) {
            std::fclose(file);
        }
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
        WriteLine(entry.block, *entry.epoch);
        out_.Row();
        return;
    }
    if (error_.empty()) {
        error_ = Spill(entry);
    }
}

// ups,data_id=1001 sok=0i,...,dvia=230.5,... 1796772375
void TimeSeries::WriteLine(const data_block::Decoded& block, std::int64_t epoch)
{
    out_ << "ups,data_id=";
    out_.Unsigned(block.data_id);
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        out_ << (i == 0 ? ' ' : ',') << FieldKeys()[i] << '=';
        out_.Unsigned(block.flags[i]);
        out_ << 'i';
    }
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        // The line protocol has no word for what is no number: the field is left out.
        if (std::isfinite(block.values[i])) {
            out_ << ',' << FieldKeys()[data_block::kFlags + i] << '=';
            out_.Float(block.values[i]);
        }
    }
    out_ << ' ';
    out_.Signed(epoch);
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
        const int fd = ::open(series->path.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        series->file = fd < 0 ? nullptr : fdopen(fd, "w+b");
        if (series->file == nullptr) {
            return "cannot make " + series->path + ": " + std::strerror(errno);
        }
    }
    const Kept kept{entry.block, *entry.epoch};
    if (std::fwrite(&kept, sizeof(kept), 1, series->file) != 1) {
        return "cannot write " + series->path + ": " + std::strerror(errno);
    }
    return "";
}

std::string TimeSeries::Flush()
{
    if (format_ == Format::OpenMetrics && error_.empty() && !spilled_.empty()) {
        error_ = WriteFamilies();
    }
    out_.Flush();
    return error_;
}

// Each family in turn, each data identifier's samples together, in time order.
std::string TimeSeries::WriteFamilies()
{
    std::vector<Kept> kept(kBlocksPerRead);
    const auto family = [&](const std::string& name, const std::string& help, auto sample) {
        out_ << "# TYPE " << name << " gauge\n# HELP " << name << ' ' << help << '\n';
        for (const auto& [data_id, series] : spilled_) {
            std::rewind(series->file);
            for (std::size_t got; (got = std::fread(kept.data(), sizeof(Kept), kept.size(),
                                                    series->file)) > 0;) {
                for (std::size_t i = 0; i < got; ++i) {
                    out_ << name << "{data_id=\"";
                    out_.Unsigned(data_id);
                    out_ << "\",tag=\"";
                    sample(kept[i].block);
                    out_ << ' ';
                    out_.Signed(kept[i].epoch);
                    out_ << '\n';
                    out_.Row();
                }
            }
        }
    };
    for (std::size_t v = 0; v < data_block::kValues; ++v) {
        const char* tag = data_block::ValueFields()[v]->tag;
        family(ValueFamily(v), std::string(tag) + " as the UPS sends it", [&](const auto& block) {
            out_ << tag << "\"} ";
            const float value = block.values[v];
            out_ << (std::isnan(value) ? std::string_view("NaN")
                     : std::isinf(value) ? std::string_view(value < 0 ? "-Inf" : "+Inf")
                                         : std::string_view());
            if (std::isfinite(value)) {
                out_.Float(value);
            }
        });
    }
    for (std::size_t f = 0; f < data_block::kFlags; ++f) {
        const char* tag = ups_protocol::kStatusFields[f].tag;
        family(FlagFamily(f), FlagHelp(f), [&](const auto& block) {
            out_ << tag << "\"} ";
            out_.Unsigned(block.flags[f]);
        });
    }
    out_ << "# EOF\n";
    for (const auto& [data_id, series] : spilled_) {
        std::rewind(series->file);
        if (ftruncate(fileno(series->file), 0) != 0) {
            return "cannot empty " + series->path + ": " + std::strerror(errno);
        }
    }
    return "";
}
