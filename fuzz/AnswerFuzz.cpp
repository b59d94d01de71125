// The module's grammar of an answer against the bench host's explanation of
// a refused one (tools/smdhost/AnswerCheck): a script of host actions
// (HostScript.h) drives the driver as the bench host does, and every answer
// the driver ends must be explained exactly when it was refused.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "fuzz/FuzzHost.h"
#include "fuzz/HostScript.h"
#include "tests/support/ExplainingHost.h"
#include "tools/common/Escape.h"

using namespace fuzz_host;
using host_script::Action;
using host_script::Step;

namespace {

using Host = ExplainingHost<CheckingController>;

// Shows the disagreement before the run ends on it.
void ExpectAgreement(const Host::Judgement& judgement)
{
    if (judgement.Agrees()) {
        return;
    }
    std::fprintf(stderr, "answer to \"%s\" (%zu bytes fed): \"%s\"\nthe module %s it; explained: \"%s\"\n",
                 EscapeBytes(judgement.command).c_str(), judgement.fed_total,
                 EscapeBytes(judgement.fed).c_str(), judgement.taken ? "took" : "refused",
                 judgement.explained.c_str());
    Fail(judgement.taken ? "an answer the module took is explained as refused"
                         : "an answer the module refused is not explained");
}

void Perform(Host& host, Driver& ups, const Step& step)
{
    switch (step.action) {
    case Action::Refresh:
        host.StartCycle(ups);
        break;
    case Action::Chunk:
    case Action::LongChunk:
        host.Read(ups, std::string(step.bytes.begin(), step.bytes.end()));
        break;
    case Action::StatusAnswer:
        host.Read(ups, CannedStatusAnswer(step.parameter));
        break;
    case Action::DataAnswer:
        host.Read(ups, CannedDataAnswer(step.parameter));
        break;
    case Action::HostReset:
        host.TimeOut(ups);
        break;
    case Action::EmptyChunk:  // the host never hands over an empty read
    case Action::Cache:       // a reload happens before the first cycle only
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto host = std::make_shared<Host>();
    auto ups = std::make_shared<Driver>();
    ups->Init(host, kDataId, Json::Value(Json::objectValue));
    host_script::Reader script(data, size);
    Step step;
    std::size_t checked = 0;
    while (script.Next(step)) {
        Perform(*host, *ups, step);
        for (; checked < host->judged.size(); ++checked) {
            ExpectAgreement(host->judged[checked]);
        }
    }
    return 0;
}
