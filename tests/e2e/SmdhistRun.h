#pragma once

// smdhist run as a user runs it, for the history tool's suites.
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/Child.h"
#include "tests/e2e/ReadBack.h"

#ifndef QUILL_SMDHIST
#error "QUILL_SMDHIST names the built smdhist"
#endif

using std::chrono::seconds;
using Lines = std::vector<std::string>;

// Stamps are local time: a zone two hours east of UTC shows offset mistakes.
class EastOfUtc : public ::testing::Environment {
    void SetUp() override { setenv("TZ", "XST-2", 1); }
};
inline ::testing::Environment* const kZone = ::testing::AddGlobalTestEnvironment(new EastOfUtc);

struct Ran {
    int status = -1;
    Lines out;
    std::string err;

    std::string Out() const
    {
        std::string text;
        for (const std::string& line : out) {
            text += line + "\n";
        }
        return text;
    }
};

// Runs a program to its end in `dir`'s name space; `env` goes before it.
inline Ran Execute(Lines argv, const std::string& dir, const Lines& env = {})
{
    if (!env.empty()) {
        argv.insert(argv.begin(), env.begin(), env.end());
        argv.insert(argv.begin(), "/usr/bin/env");
    }
    const std::string err = dir + "/run.err";
    std::filesystem::remove(err);
    Child child(argv, err);
    Ran run;
    run.status = child.Wait(seconds(60));
    for (auto line = child.ReadLine(seconds(1)); line; line = child.ReadLine(seconds(1))) {
        run.out.push_back(*line);
    }
    run.err = ReadFile(err);
    return run;
}

inline Ran Smdhist(Lines args, const std::string& dir, const Lines& env = {})
{
    args.insert(args.begin(), QUILL_SMDHIST);
    return Execute(args, dir, env);
}

// A shell command line run to its end: pipes and redirections as a user types them.
inline Ran Shell(const std::string& command, const std::string& dir)
{
    return Execute({"/bin/sh", "-c", command}, dir);
}

class TempDir : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char name[] = "/tmp/quill-hist-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }

    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
        return dir + "/" + name;
    }
};
