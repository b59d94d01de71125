#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A fuzz input of the receive path, read as a script of host actions. Every
// byte string is a script: each action is one control byte, whose low three
// bits name the action and whose high five bits are its parameter, followed
// by the action's operands. Operands cut short by the end of the input are
// taken as far as they go.
//
// The writer below builds the seed scripts, so both sides share this format.
namespace host_script {

enum class Action : std::uint8_t {
    Refresh = 0,       // RefreshStatus()
    Chunk = 1,         // process(): one length byte, then that many bytes
    LongChunk = 2,     // process(): 16-bit count (LE) % 8193 of filler bytes, see Filler()
    EmptyChunk = 3,    // process() with length 0; an odd parameter passes a null pointer
    Cache = 4,         // LoadFromCache(), in the form of CacheForm
    HostReset = 5,     // the host's Reset(), as after a timeout of its own
    StatusAnswer = 6,  // process() with a whole status answer; the parameter's bits are the flags
    DataAnswer = 7,    // process() with the data answer less its last (parameter % 16 % 15) lines
};

// How a Cache action hands its bytes to LoadFromCache (parameter % 4).
enum class CacheForm : std::uint8_t {
    Block = 0,    // 76 bytes follow; (data, 76)
    Counted = 1,  // a length byte, then that many bytes; (data, length), negated when parameter & 4
    Null = 2,     // a length byte; (nullptr, length)
    Text = 3,     // a length byte, then that many bytes; the std::string overload
};

constexpr std::size_t kBlockSize = 76;

// Twice the receive buffer: enough to pass it from any number of held bytes.
constexpr std::size_t kMaxLongChunk = 8192;

// The byte a LongChunk repeats (parameter % 8); with parameter & 16 its
// last two bytes are CR LF, so that it ends a line.
inline unsigned char Filler(std::uint8_t parameter)
{
    static constexpr unsigned char kFillers[] = {'x', '7', ' ', '.', '\r', '\n', 0x00, 0xFF};
    return kFillers[parameter % 8];
}

// One decoded action.
struct Step {
    Action action;
    std::uint8_t parameter;
    std::vector<unsigned char> bytes;  // Chunk, LongChunk, Cache
    int length = 0;                    // Cache: the length passed
};

// Decodes a script action by action.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), end_(data + size) {}

    bool Next(Step& step)
    {
        if (data_ == end_) {
            return false;
        }
        const std::uint8_t control = *data_++;
        step.action = static_cast<Action>(control & 7);
        step.parameter = static_cast<std::uint8_t>(control >> 3);
        step.bytes.clear();
        step.length = 0;
        switch (step.action) {
        case Action::Chunk:
            Take(Byte(), step.bytes);
            break;
        case Action::LongChunk:
            FillLong(step);
            break;
        case Action::Cache:
            ReadCache(step);
            break;
        default:
            break;
        }
        return true;
    }

private:
    std::size_t Byte() { return data_ == end_ ? 0 : *data_++; }

    void Take(std::size_t count, std::vector<unsigned char>& bytes)
    {
        const std::size_t left = static_cast<std::size_t>(end_ - data_);
        const std::size_t taken = count < left ? count : left;
        bytes.assign(data_, data_ + taken);
        data_ += taken;
    }

    void FillLong(Step& step)
    {
        const std::size_t low = Byte();
        const std::size_t length = (low | (Byte() << 8)) % (kMaxLongChunk + 1);
        step.bytes.assign(length, Filler(step.parameter));
        if ((step.parameter & 16) != 0 && length >= 2) {
            step.bytes[length - 2] = '\r';
            step.bytes[length - 1] = '\n';
        }
    }

    void ReadCache(Step& step)
    {
        switch (static_cast<CacheForm>(step.parameter % 4)) {
        case CacheForm::Block:
            Take(kBlockSize, step.bytes);
            step.bytes.resize(kBlockSize);
            step.length = static_cast<int>(kBlockSize);
            break;
        case CacheForm::Counted:
            Take(Byte(), step.bytes);
            step.length = static_cast<int>(step.bytes.size());
            if ((step.parameter & 4) != 0) {
                step.length = -step.length;
            }
            break;
        case CacheForm::Null:
            step.length = static_cast<int>(Byte());
            break;
        case CacheForm::Text:
            Take(Byte(), step.bytes);
            step.length = static_cast<int>(step.bytes.size());
            break;
        }
    }

    const std::uint8_t* data_;
    const std::uint8_t* end_;
};

// Builds a script; used for the seed corpus.
class Writer {
public:
    Writer& Refresh() { return Control(Action::Refresh, 0); }
    Writer& HostReset() { return Control(Action::HostReset, 0); }
    Writer& Empty(bool null_pointer) { return Control(Action::EmptyChunk, null_pointer ? 1 : 0); }
    Writer& StatusAnswer(std::uint8_t flags) { return Control(Action::StatusAnswer, flags & 31); }
    Writer& DataAnswer(std::uint8_t lines_left_out = 0)
    {
        return Control(Action::DataAnswer, lines_left_out & 15);
    }

    // The bytes as received, in reads of at most 255 bytes.
    Writer& Chunk(const std::string& bytes)
    {
        std::size_t at = 0;
        do {
            const std::string piece = bytes.substr(at, 255);
            Control(Action::Chunk, 0);
            script_ += static_cast<char>(piece.size());
            script_ += piece;
            at += 255;
        } while (at < bytes.size());
        return *this;
    }

    // The bytes split into reads of the given sizes, taken round robin.
    Writer& Chunks(const std::string& bytes, const std::vector<std::size_t>& sizes)
    {
        std::size_t next = 0;
        for (std::size_t at = 0; at < bytes.size(); at += sizes[next++ % sizes.size()]) {
            Chunk(bytes.substr(at, sizes[next % sizes.size()]));
        }
        return *this;
    }

    Writer& LongChunk(std::uint16_t length, std::uint8_t filler, bool ends_line)
    {
        Control(Action::LongChunk, static_cast<std::uint8_t>((filler % 8) | (ends_line ? 16 : 0)));
        script_ += static_cast<char>(length & 0xFF);
        script_ += static_cast<char>(length >> 8);
        return *this;
    }

    Writer& CacheBlock(const std::string& block)
    {
        Control(Action::Cache, static_cast<std::uint8_t>(CacheForm::Block));
        script_ += block.substr(0, kBlockSize);
        return *this;
    }

    const std::string& Bytes() const { return script_; }

private:
    Writer& Control(Action action, std::uint8_t parameter)
    {
        script_ += static_cast<char>(static_cast<std::uint8_t>(action) | (parameter << 3));
        return *this;
    }

    std::string script_;
};

}  // namespace host_script
