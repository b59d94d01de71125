#include "tools/smdhost/LineTrace.h"

void LineTrace::Sent(unsigned int cycle, const unsigned char* data, std::size_t len)
{
    if (!log_.Traced()) {
        return;
    }
    Flush();
    const auto now = std::chrono::system_clock::now();
    log_.Tell(device_, events::Bytes{cycle, events::Bytes::Direction::Sent,
                                     std::string(reinterpret_cast<const char*>(data), len), 1,
                                     now, now});
}

void LineTrace::Received(unsigned int cycle, const unsigned char* data, std::size_t len,
                         Piece piece)
{
    if (!log_.Traced()) {
        return;
    }
    if (!pending_.empty() && (cycle != cycle_ || piece == Piece::AfterPause)) {
        Flush();
    }
    const auto now = std::chrono::system_clock::now();
    if (pending_.empty()) {
        cycle_ = cycle;
        first_at_ = now;
    }
    if (pending_.empty() || piece != Piece::SameRead) {
        ++chunks_;
    }
    pending_.append(reinterpret_cast<const char*>(data), len);
    last_at_ = now;
}

void LineTrace::Discarded(unsigned int cycle, const std::string& bytes)
{
    if (!log_.Traced() || bytes.empty()) {
        return;
    }
    Flush();
    const auto now = std::chrono::system_clock::now();
    log_.Tell(device_,
              events::Bytes{cycle, events::Bytes::Direction::Discarded, bytes, 1, now, now});
}

void LineTrace::Flush()
{
    if (pending_.empty()) {
        return;
    }
    log_.Tell(device_, events::Bytes{cycle_, events::Bytes::Direction::Received,
                                     std::move(pending_), chunks_, first_at_, last_at_});
    pending_.clear();
    chunks_ = 0;
}
