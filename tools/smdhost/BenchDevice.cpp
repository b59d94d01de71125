#include "tools/smdhost/BenchDevice.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>

#include "plugin/Provider.h"
#include "tools/common/CommandLine.h"
#include "tools/common/DataBlock.h"
#include "tools/common/Escape.h"
#include "tools/common/Plural.h"
#include "tools/smdhost/AnswerCheck.h"
#include "tools/smdhost/AnswerValues.h"
#include "tools/smdhost/CacheCheck.h"
#include "tools/smdhost/LineFeed.h"
#include "tools/smdhost/StopSignal.h"

namespace {

using Clock = std::chrono::steady_clock;

// Enough of an answer to explain it: both answers and a line of noise.
constexpr std::size_t kFedKept = 8192;

double InSeconds(std::chrono::milliseconds time) { return time.count() / 1000.0; }

std::string SecondsText(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g s", InSeconds(time));
    return text;
}

// The change `check` makes to its alarm, by the block of `cycle` (0: the
// cached block).
events::Alarm AlarmChange(const BoolAlarmCheck& check, unsigned int cycle)
{
    using Change = events::Alarm::Change;
    const Change change = !check.state ? Change::Cleared
                          : cycle == 0 ? Change::Restored
                                       : Change::Raised;
    const events::Source source = cycle == 0 ? events::Source::Cache : events::Source::Poll;
    return {change,      check.signal_key, check.alarm_id, check.first_text, check.second_text,
            check.index, source,           cycle};
}

}  // namespace

BenchDevice::BenchDevice(DeviceConfig config, const safe_file::Folder& state, EventLog& log)
    : config_(std::move(config)),
      log_(log),
      identity_{config_.name, config_.data_id},
      files_(state, config_.data_id, data_block::kSize),
      failures_(log_, identity_),
      trace_(log_, identity_),
      history_report_(log_, identity_, files_.HistoryPath()),
      cache_(files_, config_.cache_interval, log_, identity_),
      port_(config_.port),
      pace_(config_.answer_timeout)
{
    files_.LimitHistory(config_.history_max_bytes);
}

void BenchDevice::Warning(const std::string& detail, unsigned int cycle)
{
    log_.Tell(identity_, events::Message{events::Message::Level::Warning, detail, cycle});
}

void BenchDevice::Error(const std::string& detail)
{
    log_.Tell(identity_, events::Message{events::Message::Level::Error, detail});
}

BenchDevice::~BenchDevice()
{
    driver_.reset();
    port_.Close();
}

bool BenchDevice::Start(const SMDSPDeviceProvider& provider)
{
    try {
        driver_.reset(provider.create());
        driver_->Init(shared_from_this(), config_.data_id, config_.settings);
        log_.Tell(identity_, events::Started{driver_->DeviceType(), config_.port,
                                             driver_->BaudRate(), InSeconds(config_.poll_interval),
                                             InSeconds(config_.answer_timeout),
                                             command_line::Version(), log_.ModuleVersion()});
        driver_->InitSetting(config_.settings);
    } catch (const std::exception& error) {
        const std::string at = SettingAtFault(config_.settings);
        Error(std::string("the module refused the settings: ") + error.what() +
              (at.empty() ? "" : " (" + at + ")"));
        driver_.reset();
        return false;
    }
    return true;
}

BenchDevice::Files BenchDevice::OpenFiles()
{
    std::vector<std::string> warnings;
    safe_file::Error error;
    switch (files_.Open(warnings, error)) {
    case StateFiles::Opened::Refused:
        Error(error.text);
        return Files::Refused;
    case StateFiles::Opened::Held:
        Error(error.text);
        return Files::Held;
    case StateFiles::Opened::Failed:  // shown with the first block that cannot be stored
    case StateFiles::Opened::Ready:
        break;
    }
    for (const std::string& warning : warnings) {
        Warning(warning);
    }
    return Files::Open;
}

void BenchDevice::ReloadCache()
{
    if (!files_.CacheFault().empty()) {
        SetCacheAside(std::string(files_.CacheFault()));  // a copy: setting it aside clears it
        return;
    }
    if (!files_.HasCache()) {
        return;
    }
    const std::string& block = files_.CachedBlock();
    const std::string faults = cache_check::Faults(block, config_.data_id, std::time(nullptr));
    if (!faults.empty()) {
        SetCacheAside(faults);
        return;
    }
    data_block::Decoded stored;
    data_block::Decode(reinterpret_cast<const unsigned char*>(block.data()), block.size(), stored);
    reloading_ = true;
    stored_at_ = data_block::IsoTime(stored.time_stamp);
    try {
        if (driver_->LoadFromCache(block) == 0) {
            Error("the module refused the cached block in " + files_.CachePath());
        }
    } catch (const std::exception& error) {
        Error(std::string("the module threw on the cached block: ") + error.what());
    }
    reloading_ = false;
}

void BenchDevice::SetCacheAside(const std::string& faults)
{
    const std::string cache = files_.CachePath();
    safe_file::Error error;
    const std::string aside = files_.SetCacheAside(error);
    Warning(cache + " is refused: " + faults + "; " +
            (aside.empty() ? error.text : "kept aside as " + aside) +
            ", and the device starts without it");
}

bool BenchDevice::TakePort()
{
    if (OpenPort()) {
        return true;
    }
    const std::string refusal = port_.Refusal();
    if (refusal.empty()) {
        return true;  // not there yet: each cycle looks for it again
    }
    Error(refusal);
    return false;
}

void BenchDevice::Run(unsigned int cycles)
{
    RunCycles(cycles);
    failures_.Finish();
    cache_.Finish();
}

void BenchDevice::RunCycles(unsigned int cycles)
{
    auto next = Clock::now();
    for (unsigned int run = 0; cycles == 0 || run < cycles; ++run) {
        if (StopSignal::WaitUntil(next)) {
            return;
        }
        next = Clock::now() + config_.poll_interval;
        if (RunCycle() == Outcome::Interrupted) {
            interrupted_ = true;
            return;
        }
    }
}

BenchDevice::Outcome BenchDevice::RunCycle()
{
    ++cycle_;
    published_ = false;
    write_failed_ = false;
    feeding_ = false;  // also after a driver that threw from process()
    if (!port_.IsOpen() && !OpenPort()) {
        return CycleFailed("port", port_.OpenError());
    }
    try {
        driver_->RefreshStatus();
        const Outcome outcome = Exchange();
        trace_.Flush();
        return outcome;
    } catch (const std::exception& error) {
        driver_->Reset();
        return CycleFailed("module", std::string("the module threw: ") + error.what());
    }
}

bool BenchDevice::OpenPort()
{
    if (!port_.Open(driver_->BaudRate())) {
        return false;
    }
    pace_.SetSpeed(driver_->BaudRate());
    log_.Tell(identity_, events::PortOpened{config_.port, driver_->BaudRate()});
    return true;
}

// Reads the line and feeds the driver until it ends the exchange, the answer
// to the last command is overdue, or the host is asked to stop.
BenchDevice::Outcome BenchDevice::Exchange()
{
    using Kind = AnswerPace::Step::Kind;
    unsigned char chunk[512];
    for (;;) {
        if (write_failed_) {
            driver_->Reset();
            port_.Close();
            return CycleFailed("port", port_.Error());
        }
        const AnswerPace::Step step = pace_.Next(Clock::now());
        if (step.kind == Kind::Quiet || step.kind == Kind::Busy) {
            driver_->Reset();
            still_arriving_ = step.kind == Kind::Busy;
            return CycleFailed("timeout", TimeoutDetail(still_arriving_));
        }
        const bool gathered = step.kind == Kind::Pause;
        const ssize_t got = gathered ? port_.ReadAfter(chunk, sizeof(chunk), step.time)
                                     : port_.Read(chunk, sizeof(chunk), step.time);
        if (StopSignal::Requested()) {
            driver_->Reset();
            return Outcome::Interrupted;
        }
        if (got < 0) {
            const std::string lost = port_.Error();
            driver_->Reset();
            port_.Close();
            return CycleFailed("port", lost);
        }
        const auto count = static_cast<std::size_t>(got);
        pace_.Read(Clock::now(), count, count == sizeof(chunk));
        if (count > 0 && !Feed(chunk, count, gathered)) {
            break;
        }
    }
    if (published_) {
        pace_.Taken(last_command_, fed_total_);
        ++completed_;
        return Outcome::Completed;
    }
    if (driver_->IsProcessing()) {
        driver_->Reset();
    }
    return CycleFailed("refused", RefusedDetail());
}

// Bytes that gathered during a pause came one after another: they are fed up
// to each line end in turn, so that the driver counts its lines at every line
// end as it does when the line brings one byte at a time (and takes an answer
// at its last expected line, as it does at the line's speed). A read that came
// at once is fed whole, as it came. False once the driver ends the exchange:
// the bytes after that are left for the next cycle to throw away.
bool BenchDevice::Feed(unsigned char* bytes, std::size_t count, bool gathered)
{
    LineTrace::Piece piece =
        pace_.AfterPause() ? LineTrace::Piece::AfterPause : LineTrace::Piece::NextRead;
    for (std::size_t at = 0; at < count; piece = LineTrace::Piece::SameRead) {
        const std::size_t length = gathered ? line_feed::PieceLength(bytes + at, count - at)
                                            : count - at;
        trace_.Received(cycle_, bytes + at, length, piece);
        fed_total_ += length;
        fed_.append(reinterpret_cast<const char*>(bytes + at),
                    std::min(length, kFedKept - std::min(kFedKept, fed_.size())));
        feeding_ = true;
        const int more = driver_->process(bytes + at, static_cast<unsigned int>(length));
        feeding_ = false;
        at += length;
        if (more == 0) {
            port_.Unread(bytes + at, count - at);
            return false;
        }
    }
    return true;
}

std::string BenchDevice::TimeoutDetail(bool busy) const
{
    const std::string count = fed_total_ == 0 ? "" : answer_check::LineCount(last_command_, fed_);
    const std::string nothing = "; is another program reading the port? fuser -v " + config_.port +
                                " tells";
    const std::string arriving =
        "; bytes were still arriving: an answer may take " +
        std::to_string(AnswerPace::kBusyTimes) + " times answer_timeout (" +
        SecondsText(config_.answer_timeout) + "), a line this slow needs a longer answer_timeout";
    return "no complete answer to \"" + EscapeBytes(last_command_) + "\" within " +
           SecondsText(busy ? pace_.Longest() : config_.answer_timeout) + " (" +
           Counted(fed_total_, "byte") + " received" + (count.empty() ? "" : ": " + count) +
           (fed_total_ == 0 ? nothing : "") + (busy ? arriving : "") + ")";
}

std::string BenchDevice::RefusedDetail() const
{
    const std::string why = answer_check::Explain(last_command_, fed_, fed_total_, answered_);
    return "the module refused the answer to \"" + EscapeBytes(last_command_) + "\" (" +
           Counted(fed_total_, "byte") + "): " +
           (why.empty() ? "the host finds nothing wrong in it" : why);
}

BenchDevice::Outcome BenchDevice::CycleFailed(const std::string& reason,
                                              const std::string& detail)
{
    trace_.Flush();
    failures_.Failed(cycle_, reason, detail);
    return Outcome::Failed;
}

events::Summary BenchDevice::Totals() const
{
    return {completed_, failures_.Total(), failures_.Stale(), interrupted_,
            history_report_.Lost(), failures_.Last()};
}

bool BenchDevice::StorageFailed() const
{
    return history_report_.Lost() > 0 || cache_.Lost() > 0;
}

int BenchDevice::WriteSerial(SMDVDevice&, const unsigned char* data, unsigned int len)
{
    if (feeding_) {
        pace_.Taken(last_command_, fed_total_);  // the driver took the answer and goes on
    }
    last_command_.assign(reinterpret_cast<const char*>(data), len);
    answered_.swap(fed_);
    fed_.clear();
    fed_total_ = 0;
    pace_.Start(last_command_, Clock::now());
    trace_.Sent(cycle_, data, len);
    if (!port_.Write(data, len)) {
        write_failed_ = true;
        return -1;
    }
    return static_cast<int>(len);
}

// Bytes left over from an earlier exchange must not count towards this one;
// after an answer given up while its bytes still came, the rest of it is let
// through first, so that it does not spoil the next answer.
void BenchDevice::ExchangeStarted(SMDVDevice&)
{
    using std::chrono::milliseconds;
    const milliseconds quiet =
        still_arriving_ ? std::chrono::ceil<milliseconds>(pace_.PauseGap()) : milliseconds(0);
    still_arriving_ = false;
    trace_.Discarded(cycle_, port_.DiscardInput(quiet, pace_.Longest()));
}

bool BenchDevice::Publish(SMDVDevice&, int type, const unsigned char* data, unsigned int len,
                          bool)
{
    trace_.Flush();
    published_ = true;
    if (reloading_) {
        // The block is the cached one with a new stamp: the cache keeps the old.
        events::Block block = events::Block::Of(events::Source::Cache, 0, type, data, len);
        block.stored_at = stored_at_;
        log_.Tell(identity_, std::move(block));
        return true;
    }
    failures_.Completed();
    log_.Tell(identity_, events::Block::Of(events::Source::Poll, cycle_, type, data, len));
    const std::string unusual = answer_values::Unusual(fed_);
    if (!unusual.empty()) {
        Warning("values only in part a number or not finite, stored as the module read them: " +
                    unusual,
                cycle_);
    }
    return true;
}

bool BenchDevice::StoreHistory(SMDVDevice&, const unsigned char* data, unsigned int len)
{
    if (reloading_) {
        return true;
    }
    safe_file::Error error;
    std::string rotated;
    if (!files_.Append(data, len, error, rotated)) {
        history_report_.Failed(error.text);
        return false;
    }
    if (!rotated.empty()) {
        log_.Tell(identity_, events::Rotated{files_.HistoryPath(), rotated,
                                            config_.history_max_bytes});
    }
    history_report_.Stored();
    // Only now: the cache never holds a block the history lacks.
    cache_.Stored(std::string(reinterpret_cast<const char*>(data), len));
    return true;
}

bool BenchDevice::CheckBool(SMDVDevice&, const BoolAlarmCheck& check)
{
    bool& known = alarms_[check.signal_key];
    if (known != check.state) {
        known = check.state;
        log_.Tell(identity_, AlarmChange(check, reloading_ ? 0 : cycle_));
    }
    return check.state;
}
