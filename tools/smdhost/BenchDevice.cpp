#include "tools/smdhost/BenchDevice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/smdhost/StopSignal.h"
#include "plugin/Provider.h"

namespace {

using Clock = std::chrono::steady_clock;

double InSeconds(std::chrono::milliseconds time) { return time.count() / 1000.0; }

std::string SecondsText(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g s", InSeconds(time));
    return text;
}

// A command as text that shows its control bytes: "RS\r".
std::string Printable(const std::string& bytes)
{
    std::string text;
    for (const unsigned char byte : bytes) {
        if (byte == '\r') {
            text += "\\r";
        } else if (byte == '\n') {
            text += "\\n";
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
            text += escaped;
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}

}  // namespace

BenchDevice::BenchDevice(DeviceConfig config, const std::string& state_dir, EventLog& log)
    : config_(std::move(config)), log_(log), identity_{config_.name, config_.data_id}
{
    const std::string stem = state_dir + "/" + std::to_string(config_.data_id);
    history_path_ = stem + ".history";
    cache_path_ = stem + ".cache";
}

BenchDevice::~BenchDevice()
{
    driver_.reset();
    if (history_fd_ >= 0) {
        ::close(history_fd_);
    }
}

bool BenchDevice::Start(const SMDSPDeviceProvider& provider)
{
    try {
        driver_.reset(provider.create());
        driver_->Init(shared_from_this(), config_.data_id, config_.settings);
        log_.Started(identity_, driver_->DeviceType(), config_.port, driver_->BaudRate(),
                     InSeconds(config_.poll_interval), InSeconds(config_.answer_timeout));
        driver_->InitSetting(config_.settings);
    } catch (const std::exception& error) {
        log_.Error(identity_, std::string("the module refused the settings: ") + error.what());
        driver_.reset();
        return false;
    }
    return true;
}

void BenchDevice::ReloadCache()
{
    std::ifstream file(cache_path_, std::ios::binary);
    if (!file) {
        return;
    }
    const std::string block{std::istreambuf_iterator<char>(file), {}};
    reloading_ = true;
    try {
        if (driver_->LoadFromCache(block) == 0) {
            log_.Error(identity_, "the module refused the cached block of " +
                                      std::to_string(block.size()) + " bytes in " + cache_path_);
        }
    } catch (const std::exception& error) {
        log_.Error(identity_, std::string("the module threw on the cached block: ") +
                                  error.what());
    }
    reloading_ = false;
}

void BenchDevice::Run(unsigned int cycles)
{
    auto next = Clock::now();
    for (unsigned int run = 0; cycles == 0 || run < cycles; ++run) {
        if (StopSignal::WaitUntil(next)) {
            return;
        }
        next = Clock::now() + config_.poll_interval;
        RunCycle();
    }
}

bool BenchDevice::RunCycle()
{
    ++cycle_;
    published_ = false;
    write_failed_ = false;
    if (!port_.IsOpen() && !OpenPort()) {
        return CycleFailed("port", port_.Error());
    }
    try {
        driver_->RefreshStatus();
        return Exchange();
    } catch (const std::exception& error) {
        driver_->Reset();
        return CycleFailed("module", std::string("the module threw: ") + error.what());
    }
}

bool BenchDevice::OpenPort()
{
    if (!port_.Open(config_.port, driver_->BaudRate())) {
        return false;
    }
    log_.PortOpened(identity_, config_.port, driver_->BaudRate());
    return true;
}

// Reads the line and feeds the driver until it ends the exchange or the
// answer to the last command is overdue.
bool BenchDevice::Exchange()
{
    unsigned char chunk[512];
    for (;;) {
        if (write_failed_) {
            driver_->Reset();
            port_.Close();
            return CycleFailed("port", port_.Error());
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(answer_deadline_ - Clock::now());
        if (left.count() <= 0) {
            driver_->Reset();
            return CycleFailed("timeout", "no complete answer to \"" + Printable(last_command_) +
                                              "\" within " + SecondsText(config_.answer_timeout) +
                                              " (" + std::to_string(answer_bytes_) +
                                              " bytes received)");
        }
        const ssize_t got = port_.Read(chunk, sizeof(chunk), left);
        if (got < 0) {
            driver_->Reset();
            port_.Close();
            return CycleFailed("port", port_.Error());
        }
        if (got == 0) {
            continue;
        }
        answer_bytes_ += static_cast<std::size_t>(got);
        if (driver_->process(chunk, static_cast<unsigned int>(got)) == 0) {
            break;
        }
    }
    if (published_) {
        return CycleDone();
    }
    if (driver_->IsProcessing()) {
        driver_->Reset();
    }
    return CycleFailed("refused", "the module ended the exchange without a block after \"" +
                                      Printable(last_command_) + "\" (" +
                                      std::to_string(answer_bytes_) + " bytes received)");
}

bool BenchDevice::CycleDone()
{
    ++completed_;
    failed_in_a_row_ = 0;
    return true;
}

// Counts a failed cycle; only the first failures of a run are shown.
bool BenchDevice::CycleFailed(const std::string& reason, const std::string& detail)
{
    ++failed_;
    ++failed_in_a_row_;
    if (failed_in_a_row_ <= kStaleAfter) {
        log_.CycleFailed(identity_, cycle_, reason, detail);
    }
    if (failed_in_a_row_ == kStaleAfter) {
        stale_ = true;
        log_.Stale(identity_, failed_in_a_row_);
    }
    return false;
}

int BenchDevice::WriteSerial(SMDVDevice&, const unsigned char* data, unsigned int len)
{
    last_command_.assign(reinterpret_cast<const char*>(data), len);
    answer_bytes_ = 0;
    answer_deadline_ = Clock::now() + config_.answer_timeout;
    if (!port_.IsOpen() || !port_.Write(data, len)) {
        write_failed_ = true;
        return -1;
    }
    return static_cast<int>(len);
}

// Bytes left over from an earlier exchange must not count towards this one.
void BenchDevice::ExchangeStarted(SMDVDevice&) { port_.DiscardInput(); }

bool BenchDevice::Publish(SMDVDevice&, int type, const unsigned char* data, unsigned int len,
                          bool)
{
    published_ = true;
    if (stale_ && !reloading_) {
        log_.Reestablished(identity_, failed_in_a_row_);
        stale_ = false;
    }
    log_.Block(identity_, reloading_ ? 0 : cycle_, type, data, len);
    WriteCache(data, len);
    return true;
}

bool BenchDevice::StoreHistory(SMDVDevice&, const unsigned char* data, unsigned int len)
{
    if (reloading_) {
        return true;
    }
    if (history_fd_ < 0) {
        history_fd_ = ::open(history_path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    if (history_fd_ < 0 || ::write(history_fd_, data, len) != static_cast<ssize_t>(len)) {
        log_.Error(identity_, "cannot store history in " + history_path_ + ": " +
                                  std::strerror(errno));
        return false;
    }
    return true;
}

bool BenchDevice::CheckBool(SMDVDevice&, const BoolAlarmCheck& check)
{
    bool& known = alarms_[check.signal_key];
    if (known != check.state) {
        known = check.state;
        log_.AlarmChanged(identity_, check);
    }
    return check.state;
}

// The last block, replaced whole so that a crash never leaves half of one.
void BenchDevice::WriteCache(const unsigned char* data, unsigned int len)
{
    const std::string part = cache_path_ + ".new";
    {
        std::ofstream file(part, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), len);
        if (!file) {
            log_.Error(identity_, "cannot write the cache " + part);
            return;
        }
    }
    std::error_code error;
    std::filesystem::rename(part, cache_path_, error);
    if (error) {
        log_.Error(identity_, "cannot replace the cache " + cache_path_ + ": " + error.message());
    }
}
