#include "tools/smdhist/Summary.h"

namespace {

constexpr std::size_t kDamagedListed = 20;

}  // namespace

Summary::Summary(std::optional<std::int64_t> gap_threshold) : gap_threshold_(gap_threshold) {}

void Summary::Add(const Entry& entry)
{
    if (!entry.Sound()) {
        if (damaged_.size() < kDamagedListed) {
            damaged_.push_back(Where(entry) + ": " + entry.damage);
        }
        ++damaged_count_;
        return;
    }
    const std::uint32_t data_id = entry.block.data_id;
    auto device = devices_.find(data_id);
    if (device == devices_.end()) {
        device = devices_.emplace(data_id, DeviceSummary(data_id, gap_threshold_)).first;
    }
    device->second.Add(entry);
}

void Summary::Skipped(std::uint64_t bytes)
{
    skipped_bytes_ += bytes;
    ++skipped_stretches_;
}

void Summary::Finish()
{
    for (auto& device : devices_) {
        device.second.Finish();
    }
}

std::string Summary::Text() const
{
    std::string text;
    for (const auto& device : devices_) {
        text += (text.empty() ? "" : "\n") + device.second.Text();
    }
    if (devices_.empty()) {
        text = "no sound block chosen\n";
    }
    if (skipped_stretches_ > 0) {
        text += "\nbytes that held no whole block, skipped: " + std::to_string(skipped_bytes_) +
                " in " + std::to_string(skipped_stretches_) +
                (skipped_stretches_ == 1 ? " stretch" : " stretches") + "\n";
    }
    if (damaged_count_ == 0) {
        return text;
    }
    text += "\ndamaged blocks, left out above: " + std::to_string(damaged_count_) + "\n";
    for (const std::string& damaged : damaged_) {
        text += "  " + damaged + "\n";
    }
    if (damaged_count_ > damaged_.size()) {
        text += "  ... and " + std::to_string(damaged_count_ - damaged_.size()) + " more\n";
    }
    return text;
}

Json::Value Summary::ToJson() const
{
    Json::Value json(Json::objectValue);
    json["devices"] = Json::Value(Json::arrayValue);
    for (const auto& device : devices_) {
        json["devices"].append(device.second.ToJson());
    }
    json["damaged_blocks"] = Json::UInt64(damaged_count_);
    json["skipped_bytes"] = Json::UInt64(skipped_bytes_);
    json["skipped_stretches"] = Json::UInt64(skipped_stretches_);
    json["damaged"] = Json::Value(Json::arrayValue);
    for (const std::string& damaged : damaged_) {
        json["damaged"].append(damaged);
    }
    return json;
}
