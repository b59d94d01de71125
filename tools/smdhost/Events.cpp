#include "tools/smdhost/Events.h"

#include <cstdio>

namespace events {

Block Block::Of(Source source, unsigned int cycle, int data_type, const unsigned char* data,
                unsigned int len)
{
    Block block;
    block.source = source;
    block.cycle = cycle;
    block.data_type = data_type;
    data_block::Decoded decoded;
    if (data_block::Decode(data, len, decoded)) {
        block.decoded = decoded;
    } else {
        block.bytes.assign(reinterpret_cast<const char*>(data), len);
    }
    return block;
}

std::string Block::Hex() const
{
    std::string hex;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02x" : " %02x",
                      static_cast<unsigned char>(bytes[i]));
        hex += byte;
    }
    return hex;
}

bool IsTrace(const Fact& fact)
{
    return std::holds_alternative<Bytes>(fact) || std::holds_alternative<Run>(fact);
}

}  // namespace events
