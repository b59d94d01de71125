// The bench host's reading of a refused answer: what a person at the line is
// told for each way an answer goes wrong, at the line's own speed too, where
// the module takes an answer as soon as its count of lines is there.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/UpsAnswers.h"
#include "tools/smdhost/AnswerCheck.h"

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

std::string Explain(const std::string& command, const std::string& fed,
                    const std::string& before = "")
{
    return answer_check::Explain(command, fed, fed.size(), before);
}

struct Case {
    const char* name;
    std::string command;
    std::string fed;
    std::string before;  // the status answer, for the data answer
    std::string said;
};

TEST(AnswerCheck, EachWayAnAnswerGoesWrongIsNamedWithTheLineAtFault)
{
    std::vector<Line> bad_digit = Status();
    bad_digit[2].value = "7";
    std::vector<Line> letters = Data();
    letters[9].value = "#*?";
    std::vector<Line> stray = Data();
    stray.insert(stray.begin() + 5, Line{"ATZ", ""});
    const std::vector<Case> cases = {
        {"a whole answer", kRD, Wire(Data(), 15), "", ""},
        {"a bad digit", kRS, Wire(bad_digit, 7), "",
         "line 3 \"SUF7\\r\\n\": the status digit after SUF is \"7\", not 0 or 1"},
        {"a value of letters", kRD, Wire(letters, 15), "",
         "line 10 \"DTMP#*?\\r\\n\": the value of DTMP, \"#*?\", is no number"},
        {"a tagged status line pushed out by one sent twice, paced", kRS,
         "SVER1.04\r\nSOK0\r\nSBP0\r\nSBP0\r\nSUF0\r\nSBL0\r\nSID01\r\n", "",
         "no line carries the tag SBM: line 4 \"SBP0\\r\\n\" came twice; counting it, the "
         "module took 7 lines as the whole answer before the line with SBM came"},
        {"a data line sent twice, paced", kRD, Wire(Data(), 15, 3), "",
         "no line carries the tag DVBL: line 5 \"DVOA220.0\\r\\n\" came twice; counting it, the "
         "module took 15 lines as the whole answer before the line with DVBL came"},
        {"the status answer's last line left over, paced", kRD,
         "SID01\r\n" + Wire(Data(), 14), Wire(Status(), 7, 4),
         "no line carries the tag DVBL: line 1 \"SID01\\r\\n\" belongs to neither answer (left "
         "over from the status answer); counting it, the module took 15 lines as the whole "
         "answer before the line with DVBL came (in the status answer, line 6 \"SBM0\\r\\n\" "
         "came twice)"},
        {"a stray line amid the data", kRD, Wire(stray, 15), "",
         "no line carries the tag DVBL: line 6 \"ATZ\\r\\n\" belongs to neither answer; "
         "counting it,"},
    };
    for (const Case& each : cases) {
        const std::string said = Explain(each.command, each.fed, each.before);
        if (each.said.empty()) {
            EXPECT_EQ(said, "") << each.name;
        } else {
            EXPECT_NE(said.find(each.said), std::string::npos) << each.name << ": " << said;
        }
    }
}

TEST(AnswerCheck, AnAnswerOverTheReceiveBufferIsNamedWithItsFirstLine)
{
    const std::string noise = std::string(4200, 'x') + "\r\n";
    EXPECT_EQ(Explain(kRS, noise).rfind("4202 bytes came, more than the module's 4096-byte "
                                        "receive buffer holds; line 1 \"xxx",
                                        0),
              0u);
}

}  // namespace
