#include "tools/smdhost/CacheWrites.h"

#include <cstddef>

#include "ups/QuillmarUPS_Data.h"

namespace {

constexpr std::size_t kFlags = offsetof(QuillmarUPS_Block_t, data);
constexpr std::size_t kFlagBytes = offsetof(QuillmarUPS_Data_t, dvia);
constexpr std::size_t kValues = kFlags + kFlagBytes;
constexpr std::size_t kValueBytes = offsetof(QuillmarUPS_Block_t, time_stamp) - kValues;

bool Differ(const std::string& a, const std::string& b, std::size_t at, std::size_t len)
{
    return a.size() != b.size() || a.compare(at, len, b, at, len) != 0;
}

}  // namespace

bool CacheWrites::Due(const std::string& block, Clock::time_point now) const
{
    if (interval_.count() == 0 || written_.empty() || block.size() != sizeof(QuillmarUPS_Block_t)) {
        return true;
    }
    if (Differ(block, written_, kFlags, kFlagBytes)) {
        return true;
    }
    return Differ(block, written_, kValues, kValueBytes) && now - written_at_ >= interval_;
}

void CacheWrites::Written(const std::string& block, Clock::time_point now)
{
    written_ = block;
    written_at_ = now;
}
