#include "tools/smdhost/PortProbe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "framework/SMDController.h"
#include "framework/SMDSPDevice.h"
#include "plugin/Provider.h"
#include "tools/common/AlarmTexts.h"
#include "tools/common/DataBlock.h"
#include "tools/common/Escape.h"
#include "tools/common/ExitStatus.h"
#include "tools/common/Plural.h"
#include "tools/common/SerialPort.h"
#include "tools/smdhost/AnswerCheck.h"
#include "tools/smdhost/BriefOutput.h"
#include "tools/smdhost/OutputLine.h"
#include "tools/smdhost/PortAccess.h"
#include "tools/smdhost/PortOwner.h"
#include "ups/UpsProtocol.h"

namespace port_probe {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace exit_status::smdhost;

// The quiet that ends an answer early; once the module has taken it, a
// shorter one, long enough for lines that follow at the line's speed.
constexpr milliseconds kQuiet{500};
constexpr milliseconds kQuietAfterTaken{100};

const std::string kStatus = reinterpret_cast<const char*>(ups_protocol::kStatusCommand);
const std::string kData = reinterpret_cast<const char*>(ups_protocol::kDataCommand);

// What the driver hands the host while it is probed.
class ProbeHost : public SMDController {
public:
    int WriteSerial(SMDVDevice&, const unsigned char* data, unsigned int len) override
    {
        asked.assign(reinterpret_cast<const char*>(data), len);
        return static_cast<int>(len);
    }
    bool Publish(SMDVDevice&, int, const unsigned char* data, unsigned int len, bool) override
    {
        published.assign(reinterpret_cast<const char*>(data), len);
        return true;
    }
    bool CheckBool(SMDVDevice&, const BoolAlarmCheck& check) override
    {
        if (check.state) {
            alarms.push_back(check);
        }
        return check.state;
    }

    std::string asked;  // the command the driver wrote last
    std::string published;
    std::vector<BoolAlarmCheck> alarms;
};

class Report {
public:
    explicit Report(int fd) : fd_(fd) {}
    void Say(const std::string& line) const { WriteOutputLine(fd_, line + "\n"); }

private:
    int fd_;
};

std::string Mode(const struct stat& st)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return text;
}

std::string MayOpen(const std::string& path)
{
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0) {
        return "you may open it";
    }
    return "not for you: " + port_access::DeniedHint(path);
}

// A serial port the kernel has hardware behind: the 8250 driver also names
// ports that are not there, with the type 0.
bool IsRealPort(const std::string& name)
{
    const fs::path tty = fs::path("/sys/class/tty") / name;
    std::error_code error;
    if (!fs::exists(tty / "device", error)) {
        return false;
    }
    std::ifstream type(tty / "type");
    std::string code;
    return !(type >> code) || code != "0";
}

// The serial ports this machine has, the names in /dev/serial/by-id first.
std::vector<std::string> SerialPorts()
{
    std::vector<std::string> lines;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", error)) {
        lines.push_back("  " + entry.path().string() + " -> " +
                        fs::canonical(entry.path(), error).string());
    }
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat st {};
        const std::string path = "/dev/" + name;
        if (IsRealPort(name) && ::stat(path.c_str(), &st) == 0) {
            lines.push_back("  " + path + "  mode " + Mode(st) + ": " + MayOpen(path));
        }
    }
    return lines;
}

// Why the port cannot be probed, or "".
std::string Unusable(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const std::string meant = port_access::DevicePathMeant(path);
        return path + " does not exist" +
               (meant.empty() ? " (is the adapter plugged in? the list above shows what is)"
                              : "; did you mean " + meant + "?");
    }
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES) {
        return "you may not open " + path + ": " + port_access::DeniedHint(path);
    }
    return "";
}

struct Answer {
    std::string bytes;
    std::string fed;     // the bytes the driver was given, up to its taking the answer
    double seconds = 0;  // from the command to the last byte
    bool ended = false;  // the driver ended the exchange (process() answered 0)
};

// Sends `command` and reads what comes, feeding it to the driver when
// `driver` is given, until the driver has taken the answer (and a short quiet
// followed), the line has been quiet after some bytes, or `answer_time` passed.
Answer Exchange(SerialPort& port, const std::string& command, SMDSPDevice* driver,
                ProbeHost& host, milliseconds answer_time)
{
    Answer answer;
    const auto sent = Clock::now();
    port.Write(command.data(), command.size());
    const auto deadline = sent + answer_time;
    const milliseconds quiet = std::min(kQuiet, answer_time);
    bool taken = false;
    unsigned char chunk[512];
    for (auto now = sent; now < deadline; now = Clock::now()) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - now);
        // Once bytes came, a quiet ends the answer: nothing more is coming, or
        // the driver has taken it and nothing follows.
        const milliseconds wait = answer.bytes.empty() ? left
                                  : taken              ? std::min(left, kQuietAfterTaken)
                                                       : std::min(left, quiet);
        const ssize_t got = port.Read(chunk, sizeof(chunk), wait);
        if (got <= 0) {
            if (got < 0 || !answer.bytes.empty()) {
                break;  // gone, or quiet after an answer
            }
            continue;
        }
        answer.bytes.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
        answer.seconds = std::chrono::duration<double>(Clock::now() - sent).count();
        if (driver != nullptr && !taken) {
            answer.fed.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
            answer.ended = driver->process(chunk, static_cast<unsigned int>(got)) == 0;
            taken = answer.ended || host.asked != command;
        }
    }
    return answer;
}

void ShowAnswer(const Report& report, const Answer& answer, milliseconds answer_time)
{
    if (answer.bytes.empty()) {
        char seconds[32];
        std::snprintf(seconds, sizeof(seconds), "%g s", answer_time.count() / 1000.0);
        report.Say(std::string("  nothing came within ") + seconds);
        return;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof(seconds), "%.2f s", answer.seconds);
    report.Say("  received " + Counted(answer.bytes.size(), "byte") + " in " + seconds + ": \"" +
               EscapeBytes(answer.bytes) + "\"");
}

std::string BlockText(const std::string& block)
{
    data_block::Decoded decoded;
    if (!data_block::Decode(reinterpret_cast<const unsigned char*>(block.data()), block.size(),
                            decoded)) {
        return Counted(block.size(), "byte");
    }
    return BriefOutput::Fields(decoded);
}

std::string Refusal(const std::string& command, const std::string& bytes)
{
    const std::string why = answer_check::Explain(command, bytes, bytes.size());
    return why.empty() ? "the host finds nothing wrong in it" : why;
}

// At the line's speed the module takes an answer at its last expected line:
// what came after it.
void TellRest(const Report& report, const Answer& answer)
{
    if (!answer.fed.empty() && answer.bytes.size() > answer.fed.size()) {
        const std::string rest = answer.bytes.substr(answer.fed.size());
        report.Say("  after the module had taken it, " + Counted(rest.size(), "byte") +
                   " more came: \"" + EscapeBytes(rest) + "\"");
    }
}

// An answer the module did not take: refused, with the host's reason, or
// never whole.
void TellNotTaken(const Report& report, const std::string& command, const Answer& answer)
{
    if (answer.ended) {
        report.Say("  the module refused it: " + Refusal(command, answer.fed));
        TellRest(report, answer);
    } else if (!answer.bytes.empty()) {
        const std::string count = answer_check::LineCount(command, answer.bytes);
        report.Say("  the module did not take it as a whole answer" +
                   (count.empty() ? std::string() : ": " + count));
    }
}

// What the module made of the status answer; true when it asks for the data.
bool TellStatus(const Report& report, const Answer& answer, const ProbeHost& host)
{
    if (host.asked == kData) {
        report.Say("  the module took the status answer and asks for the data");
        TellRest(report, answer);
        return true;
    }
    TellNotTaken(report, kStatus, answer);
    return false;
}

bool TellData(const Report& report, const Answer& answer, const ProbeHost& host, bool fed)
{
    if (!host.published.empty()) {
        report.Say("  the module published a block: " + BlockText(host.published));
        TellRest(report, answer);
        for (const BoolAlarmCheck& alarm : host.alarms) {
            const alarm_texts::English* english = alarm_texts::Find(alarm.signal_key.c_str());
            report.Say("  alarm on: " + alarm.signal_key + " " + alarm.alarm_id + " " +
                       alarm.first_text + (english ? std::string(" (") + english->first_text + ")"
                                                   : std::string()));
        }
        return true;
    }
    if (!fed) {
        report.Say("  not handed to the module, which did not take the status answer" +
                   (answer.bytes.empty() ? "" : "; the host's check: " + Refusal(kData, answer.bytes)));
    } else {
        TellNotTaken(report, kData, answer);
    }
    return false;
}

int Verdict(const Report& report, const std::string& verdict, int status)
{
    report.Say("verdict: " + verdict);
    return status;
}

// Both commands on the open line, each answer shown with the module's reading.
int Converse(const Report& report, SerialPort& port, const std::string& path,
             const SMDSPDeviceProvider& provider, milliseconds answer_time)
{
    auto host = std::make_shared<ProbeHost>();
    std::shared_ptr<SMDSPDevice> driver(provider.create());
    driver->Init(host, 1, Json::Value(Json::objectValue));
    driver->InitSetting(Json::Value(Json::objectValue));
    const std::string left = port.DiscardInput();
    if (!left.empty()) {
        report.Say("discarded " + Counted(left.size(), "byte") + " left on the line: \"" +
                   EscapeBytes(left) + "\"");
    }
    driver->RefreshStatus();
    report.Say("sent \"" + EscapeBytes(kStatus) + "\"");
    const Answer status = Exchange(port, kStatus, driver.get(), *host, answer_time);
    ShowAnswer(report, status, answer_time);
    const bool asks = TellStatus(report, status, *host);
    report.Say("sent \"" + EscapeBytes(kData) + "\"");
    const Answer data = Exchange(port, kData, asks ? driver.get() : nullptr, *host, answer_time);
    ShowAnswer(report, data, answer_time);
    const bool published = TellData(report, data, *host, asks);
    if (published) {
        return Verdict(report, "a UPS answers on " + path + " and the module reads it",
                       exit_status::kSuccess);
    }
    if (status.bytes.empty() && data.bytes.empty()) {
        const std::string others = port_owner::OtherOpeners(path);
        return Verdict(report,
                       "nothing answers on " + path +
                           ": check the cable (a UPS port often needs a null-modem cable), that "
                           "the UPS's serial port is on, and its speed (2400 bit/s 8N1)" +
                           (others.empty() ? "" : "; " + others + " also has the port open"),
                       kDeviceFailed);
    }
    return Verdict(report,
                   "something answers on " + path +
                       ", but not as the module reads a UPS: the lines above say what is wrong",
                   kDeviceFailed);
}

}  // namespace

int Run(const std::string& path, const SMDSPDeviceProvider& provider, milliseconds answer_time,
        int out_fd)
{
    const Report report(out_fd);
    report.Say("serial ports on this machine:");
    const std::vector<std::string> ports = SerialPorts();
    for (const std::string& line : ports) {
        report.Say(line);
    }
    if (ports.empty()) {
        report.Say("  none found in /dev/serial/by-id or /sys/class/tty");
    }
    report.Say("probing " + path + " at " + std::to_string(ups_protocol::kBaudRate) +
               " bit/s 8N1");
    const std::string unusable = Unusable(path);
    if (!unusable.empty()) {
        return Verdict(report, unusable, kPortRefused);
    }
    SerialPort port;
    if (!port.Open(path, ups_protocol::kBaudRate)) {
        return Verdict(report, port.Error(), kPortRefused);
    }
    std::string why;
    if (!port_owner::Take(port.Fd(), path, why)) {
        return Verdict(report, why, kPortRefused);
    }
    const std::string others = port_owner::OtherOpeners(path);
    report.Say(others.empty() ? "  no other program has it open; taken for the probe alone"
                              : "  also open in " + others +
                                    ": a program that reads the port takes the UPS's answers");
    const int status = Converse(report, port, path, provider, answer_time);
    port_owner::Release(port.Fd());
    return status;
}

}  // namespace port_probe
