#include "ups/QuillmarUPS.h"

#include <locale.h>

#include <cstring>
#include <regex>
#include <stdexcept>

#include "ups/UpsProtocol.h"

using namespace ups_protocol;

namespace {

constexpr int StepValue(Step step) { return static_cast<int>(step); }

// True when the text holds a run of more than kMaxLineLength bytes without
// CR or LF.
bool HasOverlongLine(const std::string& text)
{
    std::size_t run = 0;
    for (const char byte : text) {
        run = (byte == '\r' || byte == '\n') ? 0 : run + 1;
        if (run > kMaxLineLength) {
            return true;
        }
    }
    return false;
}

// Searches the answer for a field's pattern; the capture is its value text.
// Every pattern starts with its tag, so no fit can start before the tag's
// first occurrence: the search starts there, and an answer without the tag
// is refused before a pattern is built.
bool FindField(const std::string& text, const Field& field, std::string& capture)
{
    const std::size_t first_tag = text.find(field.tag);
    if (first_tag == std::string::npos) {
        return false;
    }
    const std::regex pattern(field.pattern);
    std::smatch match;
    if (!std::regex_search(text.cbegin() + static_cast<std::ptrdiff_t>(first_tag), text.cend(),
                           match, pattern)) {
        return false;
    }
    capture = match[1].str();
    return true;
}

// The UPS writes a decimal point whatever locale the host process runs in,
// so the conversion runs in the "C" locale, set for this thread only and for
// the call only: the host's locale, and every other thread's, stay as they
// are. The locale object is made per call, so nothing outlives the call.
class ClassicNumbers {
public:
    ClassicNumbers()
        : classic_(newlocale(LC_ALL_MASK, "C", nullptr)),
          previous_(classic_ != nullptr ? uselocale(classic_) : nullptr)
    {
    }
    ~ClassicNumbers()
    {
        if (previous_ != nullptr) {
            uselocale(previous_);
        }
        if (classic_ != nullptr) {
            freelocale(classic_);
        }
    }
    ClassicNumbers(const ClassicNumbers&) = delete;
    ClassicNumbers& operator=(const ClassicNumbers&) = delete;

    bool Active() const { return previous_ != nullptr; }

private:
    locale_t classic_;
    locale_t previous_;
};

// std::stof in the "C" locale, with a text that holds no single-precision
// number answered false instead of thrown: line noise must not unwind
// through the host.
bool ToFloat(const std::string& text, float& value)
{
    const ClassicNumbers classic;
    if (!classic.Active()) {
        return false;
    }
    try {
        value = std::stof(text);
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
}

}  // namespace

QuillmarUPS::QuillmarUPS() : cmd_status_(kStatusCommand), cmd_data_(kDataCommand)
{
    device_type_ = kDeviceType;
    baud_rate_ = kBaudRate;
}

int QuillmarUPS::RefreshStatus()
{
    SMDSPDevice::RefreshStatus();
    step_ = StepValue(Step::AwaitStatus);
    SMDSPDevice::SendData(cmd_status_, kCommandLength);
    return 1;
}

int QuillmarUPS::process(unsigned char* data, unsigned int len)
{
    // Written against the room left, so that no len can wrap the sum.
    if (len > kRxBufferSize - rx_len_) {
        step_ = StepValue(Step::Idle);
        rx_len_ = 0;
        return 0;
    }
    if (len > 0) {
        std::memcpy(rx_buf_ + rx_len_, data, len);
        rx_len_ += len;
    }
    if (rx_len_ < 2 || rx_buf_[rx_len_ - 1] != '\n' || rx_buf_[rx_len_ - 2] != '\r') {
        return 1;
    }
    switch (step_) {
    case StepValue(Step::AwaitStatus):
        return HeldLines() == kStatusLines ? TakeStatusAnswer() : 1;
    case StepValue(Step::AwaitData):
        return HeldLines() == kDataLines ? TakeDataAnswer() : 1;
    default:
        return 1;
    }
}

void QuillmarUPS::RunCheckThreshold()
{
    for (const Alarm& alarm : kAlarms) {
        const bool state = *RecordByte(alarm.offset) != 0;
        const unsigned short index = check_index_++;
        CheckThresholdBool(1, alarm.signal_key, alarm.alarm_id, alarm.first_text,
                           alarm.second_text, state, index);
    }
}

// The number of CR LF pairs held; a lone CR or LF is no line end.
unsigned int QuillmarUPS::HeldLines() const
{
    unsigned int lines = 0;
    for (unsigned int i = 1; i < rx_len_; ++i) {
        if (rx_buf_[i] == '\n' && rx_buf_[i - 1] == '\r') {
            ++lines;
        }
    }
    return lines;
}

int QuillmarUPS::TakeStatusAnswer()
{
    const std::string text(reinterpret_cast<const char*>(rx_buf_), rx_len_);
    rx_len_ = 0;
    std::string digit;
    for (const Field& field : kStatusFields) {
        if (!FindField(text, field, digit)) {
            Reset();
            return 0;
        }
        *RecordByte(field.offset) = digit == "0" ? 0 : 1;
    }
    step_ = StepValue(Step::AwaitData);
    SMDSPDevice::SendData(cmd_data_, kCommandLength);
    return 1;
}

int QuillmarUPS::TakeDataAnswer()
{
    const std::string text(reinterpret_cast<const char*>(rx_buf_), rx_len_);
    rx_len_ = 0;
    if (HasOverlongLine(text)) {
        Reset();
        return 0;
    }
    std::string capture;
    for (const Field& field : kDataFields) {
        float value = 0.0f;
        if (!FindField(text, field, capture) || !ToFloat(capture, value)) {
            Reset();
            return 0;
        }
        std::memcpy(RecordByte(field.offset), &value, sizeof(value));
    }
    RoundDone();
    return 0;
}

unsigned char* QuillmarUPS::RecordByte(std::size_t offset)
{
    return reinterpret_cast<unsigned char*>(&uni_data_.data) + offset;
}
