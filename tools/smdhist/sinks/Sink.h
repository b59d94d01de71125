#pragma once

#include <cstdint>

#include "tools/common/ExitStatus.h"
#include "tools/smdhist/BlockStream.h"

// One output of the history tool (a table, a time series, a summary, a
// picture): the chosen blocks come to it one by one, and the reading tells it
// when to hand on what it has and when the blocks are over. Another output is
// another sink, which the program adds to those it feeds.
class Sink {
public:
    virtual ~Sink() = default;

    // A chosen block, damaged or sound, in the order read.
    virtual void Take(const Entry& entry) = 0;
    // Bytes of a file that held no whole block and were skipped.
    virtual void Skipped(std::uint64_t /*bytes*/) {}
    // Hands on what was written so far: at the end, and while following.
    // Answers the exit status it calls for.
    virtual int Flush() { return exit_status::kSuccess; }
    // Once every block was read: warns of the blocks it left out.
    virtual void Report() {}
    // Once every block was read: writes what only all of them give (a
    // summary, a picture). Answers the exit status it calls for.
    virtual int Finish() { return exit_status::kSuccess; }
};
