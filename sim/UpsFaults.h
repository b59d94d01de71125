#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/UpsAnswers.h"

// Faults a UPS line shows, put into answers on purpose. The simulator injects
// them and the tests read from the same table what each one must do to a poll
// cycle, so the two cannot drift apart.
namespace ups_faults {

enum class Fault : std::uint8_t {
    Split,       // the answer in odd chunks, with pauses between them
    MissingTag,  // one tag line sent empty: its tag and value lost, the line count kept
    Garbled,     // one value of the data answer replaced by characters that are no number
    ExtraLine,   // one line of the answer sent twice
    Noise,       // a 4 KiB line of noise before the answer
    Silence,     // no answer at all
    BadDigit,    // a status digit other than 0 or 1
};

enum class Answer : std::uint8_t { Status, Data };

// What the driver makes of an answer with the fault in it.
enum class Outcome : std::uint8_t {
    Completes,   // the answer is taken as if nothing were wrong
    Refused,     // the driver ends the exchange without a block
    Unanswered,  // the driver keeps waiting: only the host's answer timeout ends the cycle
};

struct FaultInfo {
    Fault fault;
    const char* name;  // as upssim's --fault and scenario files spell it
    const char* summary;
    bool in_status;  // can be put into the status answer
    bool in_data;    // can be put into the data answer
    Outcome outcome;
};

constexpr FaultInfo kFaults[] = {
    {Fault::Split, "split", "answer split into odd chunks", true, true, Outcome::Completes},
    {Fault::MissingTag, "missing-tag", "a tag line sent empty", true, true, Outcome::Refused},
    {Fault::Garbled, "garbled", "a data value garbled", false, true, Outcome::Refused},
    {Fault::ExtraLine, "extra-line", "a line sent twice", true, true, Outcome::Unanswered},
    {Fault::Noise, "noise", "4 KiB line of noise first", true, true, Outcome::Refused},
    {Fault::Silence, "silence", "no answer", true, true, Outcome::Unanswered},
    {Fault::BadDigit, "bad-digit", "status digit other than 0 or 1", true, false,
     Outcome::Refused},
};

// Bytes of noise in the noise fault's line, before its CR LF.
constexpr std::size_t kNoiseBytes = 4096;

// The table row of a fault, or nullptr for a name that is no fault.
const FaultInfo* FindFault(const std::string& name);
const FaultInfo& InfoOf(Fault fault);

// True when the fault can be put into this kind of answer.
bool AppliesTo(Fault fault, Answer answer);

// The chunks to write for an answer with the fault put in, in order, with a
// pause between chunks; an empty list is silence. The lines are the answer as
// ups_answers builds it; where the fault hits is drawn from rng.
std::vector<std::string> Inject(Fault fault, Answer answer, std::vector<ups_answers::Line> lines,
                                std::mt19937& rng);

}  // namespace ups_faults
