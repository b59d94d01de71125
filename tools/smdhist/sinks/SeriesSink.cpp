#include "tools/smdhist/sinks/SeriesSink.h"

#include "tools/common/Diagnostics.h"
#include "tools/common/Plural.h"

int SeriesSink::Flush()
{
    const std::string error = series_.Flush();
    if (!error.empty() && !failed_) {
        diagnostics::Error("no time series: " + error);
        failed_ = true;
    }
    return failed_ ? exit_status::smdhist::kNoOutput : exit_status::kSuccess;
}

void SeriesSink::Report()
{
    if (series_.Damaged() > 0) {
        diagnostics::Warning(Counted(series_.Damaged(), "block") +
                             " damaged, left out of the time series");
    }
    if (series_.OutOfOrder() > 0) {
        diagnostics::Warning(Counted(series_.OutOfOrder(), "block") +
                             " stamped at or before an earlier block of their data id (the "
                             "clock was set back) left out: a series takes its times in order");
    }
    if (series_.Infinite() > 0) {
        diagnostics::Warning(Counted(series_.Infinite(), "infinite value") +
                             " left out of the line protocol, which has no word for infinity "
                             "(the first: " + series_.FirstInfinite() + ")");
    }
}

int SeriesSink::Finish()
{
    return series_.OutOfOrder() > 0 || series_.Infinite() > 0 ? exit_status::smdhist::kLeftOut
                                                               : exit_status::kSuccess;
}
