#include "tools/smdhost/CacheWriter.h"

void CacheWriter::Stored(const std::string& block)
{
    writes_.Stored(block);
    if (writes_.Due(block, CacheWrites::Clock::now())) {
        Store(block);
    }
}

void CacheWriter::Finish()
{
    const std::string last = writes_.Unwritten();
    if (!last.empty()) {
        Store(last);
    }
}

void CacheWriter::Store(const std::string& block)
{
    safe_file::Error error;
    if (!files_.StoreCache(reinterpret_cast<const unsigned char*>(block.data()),
                           static_cast<unsigned int>(block.size()), error)) {
        report_.Failed(error.text);
        return;
    }
    report_.Stored();
    writes_.Written(block, CacheWrites::Clock::now());
}
