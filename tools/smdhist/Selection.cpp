#include "tools/smdhist/Selection.h"

#include <algorithm>
#include <utility>

#include "tools/smdhist/HistTime.h"

namespace {

// Data identifiers named when nothing was chosen.
constexpr std::size_t kIdsNamed = 20;

}  // namespace

Selection::Selection(const Choice& choice, Pass pass) : choice_(choice), pass_(std::move(pass))
{
}

bool Selection::InRange(const Entry& entry)
{
    if (!choice_.from && !choice_.to) {
        return true;
    }
    if (!entry.epoch) {
        ++unplaced_;
        return false;
    }
    return (!choice_.from || *entry.epoch >= *choice_.from) &&
           (!choice_.to || *entry.epoch <= *choice_.to);
}

void Selection::Seen(const Entry& entry)
{
    ++offered_;
    if (!entry.Sound()) {
        return;
    }
    if (ids_.size() < kIdsNamed || ids_.count(entry.block.data_id) > 0) {
        ids_.insert(entry.block.data_id);
    } else {
        more_ids_ = true;
    }
    if (choice_.data_id && entry.block.data_id != *choice_.data_id) {
        return;
    }
    ++of_the_id_;
    earliest_ = std::min(earliest_.value_or(*entry.epoch), *entry.epoch);
    latest_ = std::max(latest_.value_or(*entry.epoch), *entry.epoch);
}

void Selection::Offer(Entry& entry)
{
    Seen(entry);
    if ((choice_.data_id && entry.block.data_id != *choice_.data_id) || !InRange(entry)) {
        return;
    }
    ++chosen_;
    if (!choice_.last) {
        pass_(entry);
        return;
    }
    last_.push_back(std::move(entry));
    if (last_.size() > *choice_.last) {
        last_.pop_front();
    }
}

void Selection::Finish()
{
    for (const Entry& entry : last_) {
        pass_(entry);
    }
    last_.clear();
    choice_.last.reset();
}

std::string Selection::NothingChosen() const
{
    std::string ids;
    for (const std::uint32_t id : ids_) {
        ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    }
    ids += more_ids_ ? " and more" : "";
    if (choice_.data_id && of_the_id_ == 0) {
        return "no block of data id " + std::to_string(*choice_.data_id) +
               (ids.empty() ? "; no sound block was read" : "; the data ids read: " + ids);
    }
    std::string text = "no block";
    if (choice_.data_id) {
        text += " of data id " + std::to_string(*choice_.data_id);
    }
    using hist_time::IsoOfEpoch;
    if (choice_.from && choice_.to) {
        text += " stamped from " + IsoOfEpoch(*choice_.from) + " to " + IsoOfEpoch(*choice_.to);
    } else if (choice_.from) {
        text += " stamped at " + IsoOfEpoch(*choice_.from) + " or later";
    } else if (choice_.to) {
        text += " stamped at " + IsoOfEpoch(*choice_.to) + " or earlier";
    }
    if (earliest_) {
        text += "; the blocks read run from " + IsoOfEpoch(*earliest_) + " to " +
                IsoOfEpoch(*latest_);
    }
    return text;
}
