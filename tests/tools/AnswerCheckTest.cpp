// The bench host's reading of a refused answer, held to the module's own: the
// module is driven as the bench host drives it (tests/support/ExplainingHost.h)
// and each answer it ends is explained exactly when it refused it, with what
// a person at the line is told, at the line's own speed too, where the module
// takes an answer as soon as its count of lines is there.
#include <stdlib.h>

#include <clocale>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "sim/UpsAnswers.h"
#include "tests/support/ExplainingHost.h"
#include "ups/QuillmarUPS.h"

#ifndef QUILL_LOCALE_DIR
#error "QUILL_LOCALE_DIR names the folder where the build made the test locale"
#endif

namespace {

using ups_answers::Line;

const std::string kRS = "RS\r";
const std::string kRD = "RD\r";

std::vector<Line> Status() { return ups_answers::StatusLines(ups_answers::OnLine()); }
std::vector<Line> Data() { return ups_answers::DataLines(ups_answers::OnLine()); }

// The first `count` lines of `lines` on the wire, with line `twice` sent
// twice when given.
std::string Wire(std::vector<Line> lines, std::size_t count, int twice = -1)
{
    if (twice >= 0) {
        lines.insert(lines.begin() + twice, lines[static_cast<std::size_t>(twice)]);
    }
    lines.resize(count);
    return ups_answers::Join(lines);
}

// `text` read a byte at a time, as at the line's own speed.
std::vector<std::string> Paced(const std::string& text)
{
    std::vector<std::string> reads;
    for (const char byte : text) {
        reads.emplace_back(1, byte);
    }
    return reads;
}

// The good status answer in one read, then `data`.
std::vector<std::string> AfterStatus(std::vector<std::string> data)
{
    data.insert(data.begin(), Wire(Status(), 7));
    return data;
}

// What the module made of an answer, as the bench host sees it.
enum class Verdict { Taken, Refused };

struct Exchange {
    const char* name;
    std::string command;             // whose answer is judged: "RS\r" or "RD\r"
    std::vector<std::string> reads;  // the cycle's bytes as the host reads them
    Verdict verdict;
    std::string said;  // part of the explanation of a refused answer
};

// Runs a poll cycle on `reads` as the bench host does, and checks the
// judgement of the answer to the exchange's command.
void Check(const Exchange& exchange)
{
    auto host = std::make_shared<ExplainingHost<>>();
    auto ups = std::make_shared<QuillmarUPS>();
    ups->Init(host, 258, Json::Value(Json::objectValue));
    host->StartCycle(*ups);
    for (const std::string& read : exchange.reads) {
        host->Read(*ups, read);
    }
    for (const auto& judgement : host->judged) {
        if (judgement.command == exchange.command) {
            EXPECT_EQ(judgement.taken, exchange.verdict == Verdict::Taken) << exchange.name;
            EXPECT_TRUE(judgement.Agrees()) << exchange.name << ": " << judgement.explained;
            EXPECT_NE(judgement.explained.find(exchange.said), std::string::npos)
                << exchange.name << ": " << judgement.explained;
            return;
        }
    }
    ADD_FAILURE() << exchange.name << ": the module did not end the answer";
}

// The table both read alike: each way an answer goes wrong, named with the
// line at fault, and what the answer fuzz target found they read apart.
TEST(AnswerCheck, AnAnswerIsExplainedExactlyWhenTheModuleRefusesIt)
{
    std::vector<Line> bad_digit = Status();
    bad_digit[2].value = "7";
    std::vector<Line> long_status = Status();
    long_status[5].value = std::string(200, '1');
    std::vector<Line> letters = Data();
    letters[9].value = "#*?";
    std::vector<Line> stray = Data();
    stray.insert(stray.begin() + 5, Line{"ATZ", ""});
    std::vector<Line> overlong = Data();
    overlong[14].value = "1" + std::string(128, ' ');
    std::vector<Line> past_float = Data();
    past_float[3].value = "1e39";
    const std::vector<Exchange> exchanges = {
        {"a whole status answer", kRS, {Wire(Status(), 7)}, Verdict::Taken, ""},
        {"a whole data answer", kRD, AfterStatus({Wire(Data(), 15)}), Verdict::Taken, ""},
        {"both answers a byte at a time", kRD, Paced(Wire(Status(), 7) + Wire(Data(), 15)),
         Verdict::Taken, ""},
        {"a status line over 128 bytes", kRS, {Wire(long_status, 7)}, Verdict::Taken, ""},
        {"a bad digit", kRS, {Wire(bad_digit, 7)}, Verdict::Refused,
         "line 3 \"SUF7\\r\\n\": the status digit after SUF is \"7\", not 0 or 1"},
        {"a value of letters", kRD, AfterStatus({Wire(letters, 15)}), Verdict::Refused,
         "line 10 \"DTMP#*?\\r\\n\": the value of DTMP, \"#*?\", is no number"},
        {"a value past a float", kRD, AfterStatus({Wire(past_float, 15)}), Verdict::Refused,
         "line 4 \"DVOA1e39\\r\\n\": the value of DVOA, \"1e39\", is out of the range of a float"},
        {"a data line over 128 bytes", kRD, AfterStatus({Wire(overlong, 15)}), Verdict::Refused,
         "...\" is 133 bytes long, over the 128 a line may have"},
        {"a tagged status line pushed out by one sent twice, paced", kRS,
         Paced("SVER1.04\r\nSOK0\r\nSBP0\r\nSBP0\r\nSUF0\r\nSBL0\r\nSID01\r\nSBM0\r\n"),
         Verdict::Refused,
         "no line carries the tag SBM: line 4 \"SBP0\\r\\n\" came twice; counting it, the "
         "module took 7 lines as the whole answer before the line with SBM came"},
        {"a data line sent twice, paced", kRD, AfterStatus(Paced(Wire(Data(), 16, 3))),
         Verdict::Refused,
         "no line carries the tag DVBL: line 5 \"DVOA220.0\\r\\n\" came twice; counting it, the "
         "module took 15 lines as the whole answer before the line with DVBL came"},
        {"the status answer's last line left over, paced", kRD,
         Paced(Wire(Status(), 8, 4) + Wire(Data(), 15)), Verdict::Refused,
         "no line carries the tag DVBL: line 1 \"SID01\\r\\n\" belongs to neither answer (left "
         "over from the status answer); counting it, the module took 15 lines as the whole "
         "answer before the line with DVBL came (in the status answer, line 6 \"SBM0\\r\\n\" "
         "came twice)"},
        {"a stray line amid the data", kRD, AfterStatus({Wire(stray, 15)}), Verdict::Refused,
         "no line carries the tag DVBL: line 6 \"ATZ\\r\\n\" belongs to neither answer; "
         "counting it,"},
        {"an answer past the receive buffer", kRS, {std::string(4200, 'x') + "\r\n"},
         Verdict::Refused,
         "4202 bytes came, more than the module's 4096-byte receive buffer holds; line 1 \"xxx"},
    };
    for (const Exchange& exchange : exchanges) {
        Check(exchange);
    }
}

// Sets the process's locale for a test and the "C" locale back after it.
class ProcessLocale {
public:
    explicit ProcessLocale(const char* name)
    {
        setenv("LOCPATH", QUILL_LOCALE_DIR, 1);
        set_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ProcessLocale() { std::setlocale(LC_ALL, "C"); }
    ProcessLocale(const ProcessLocale&) = delete;
    ProcessLocale& operator=(const ProcessLocale&) = delete;
    bool Set() const { return set_; }

private:
    bool set_ = false;
};

// The module reads a value in the "C" locale whatever the process runs in; a
// bench host in a decimal-comma locale explains its refusals alike.
TEST(AnswerCheck, ValuesAreReadWithADecimalPointInADecimalCommaLocaleToo)
{
    const ProcessLocale german("de_DE.UTF-8");
    ASSERT_TRUE(german.Set());
    std::vector<Line> point = Data();
    point[8].value = ".5";
    std::vector<Line> comma = Data();
    comma[8].value = ",5";
    Check({"a decimal point", kRD, AfterStatus({Wire(point, 15)}), Verdict::Taken, ""});
    Check({"a decimal comma", kRD, AfterStatus({Wire(comma, 15)}), Verdict::Refused,
           "line 9 \"DLOC,5\\r\\n\": the value of DLOC, \",5\", is no number"});
}

}  // namespace
