#include "tools/smdhist/Selection.h"

#include <utility>

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

void Selection::Offer(Entry& entry)
{
    if ((choice_.data_id && entry.block.data_id != *choice_.data_id) || !InRange(entry)) {
        return;
    }
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
}
