#include "sim/UpsFaults.h"

#include <cstring>

#include "ups/UpsProtocol.h"

namespace ups_faults {

namespace {

// Characters that never start a number for std::stof (no digit, sign, dot,
// blank, or the letters of "inf" and "nan").
constexpr char kGarbage[] = "#*?!@%&$~^:;<>|";

std::size_t Draw(std::mt19937& rng, std::size_t low, std::size_t high)
{
    return std::uniform_int_distribution<std::size_t>(low, high)(rng);
}

bool IsProtocolTag(const std::string& tag, Answer answer)
{
    if (answer == Answer::Status) {
        for (const auto& field : ups_protocol::kStatusFields) {
            if (tag == field.tag) {
                return true;
            }
        }
        return false;
    }
    for (const auto& field : ups_protocol::kDataFields) {
        if (tag == field.tag) {
            return true;
        }
    }
    return false;
}

// One of the lines that carry a tag the driver reads.
ups_answers::Line& AnyTagLine(std::vector<ups_answers::Line>& lines, Answer answer,
                              std::mt19937& rng)
{
    std::vector<std::size_t> tagged;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsProtocolTag(lines[i].tag, answer)) {
            tagged.push_back(i);
        }
    }
    return lines.at(tagged.at(Draw(rng, 0, tagged.size() - 1)));
}

std::vector<std::string> InOddChunks(const std::string& text, std::mt19937& rng)
{
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t size = Draw(rng, 1, 9);
        chunks.push_back(text.substr(at, size));
        at += size;
    }
    return chunks;
}

std::string NoiseLine(std::mt19937& rng)
{
    std::string noise(kNoiseBytes, '\0');
    for (char& byte : noise) {
        do {
            byte = static_cast<char>(Draw(rng, 0, 255));
        } while (byte == '\r' || byte == '\n');
    }
    return noise + "\r\n";
}

}  // namespace

const FaultInfo* FindFault(const std::string& name)
{
    for (const FaultInfo& info : kFaults) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

const FaultInfo& InfoOf(Fault fault)
{
    for (const FaultInfo& info : kFaults) {
        if (info.fault == fault) {
            return info;
        }
    }
    return kFaults[0];
}

bool AppliesTo(Fault fault, Answer answer)
{
    const FaultInfo& info = InfoOf(fault);
    return answer == Answer::Status ? info.in_status : info.in_data;
}

std::vector<std::string> Inject(Fault fault, Answer answer, std::vector<ups_answers::Line> lines,
                                std::mt19937& rng)
{
    if (!AppliesTo(fault, answer)) {
        return {ups_answers::Join(lines)};
    }
    switch (fault) {
    case Fault::Split:
        return InOddChunks(ups_answers::Join(lines), rng);
    case Fault::MissingTag:
        AnyTagLine(lines, answer, rng) = ups_answers::Line{};
        break;
    case Fault::Garbled: {
        std::string garbage(Draw(rng, 1, 6), '#');
        for (char& byte : garbage) {
            byte = kGarbage[Draw(rng, 0, std::strlen(kGarbage) - 1)];
        }
        AnyTagLine(lines, answer, rng).value = garbage;
        break;
    }
    case Fault::ExtraLine: {
        const std::size_t copied = Draw(rng, 0, lines.size() - 1);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(copied), lines[copied]);
        break;
    }
    case Fault::Noise:
        return {NoiseLine(rng) + ups_answers::Join(lines)};
    case Fault::Silence:
        return {};
    case Fault::BadDigit:
        AnyTagLine(lines, answer, rng).value = std::to_string(Draw(rng, 2, 9));
        break;
    }
    return {ups_answers::Join(lines)};
}

}  // namespace ups_faults
