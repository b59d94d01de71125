#pragma once

#include <string>

#include "framework/SMDSPDevice.h"
#include "unidata/UniDataDevice.h"
#include "ups/QuillmarUPS_Data.h"

// Driver for one UPS on one serial line. A poll cycle sends "RS\r", takes the
// seven-line status answer, sends "RD\r", takes the fifteen-line data answer
// and ends the round; a bad answer ends the exchange with Reset().
class QuillmarUPS : public UniDataDevice<QuillmarUPS_Data_t, SMDSPDevice, 5017> {
public:
    QuillmarUPS();
    ~QuillmarUPS() override {}

    // Starts a poll cycle; always answers 1.
    int RefreshStatus() override;

    // Takes one chunk from the serial line. Answers 1 while the exchange goes
    // on, 0 when it has ended (completed, refused or abandoned on overflow).
    int process(unsigned char* data, unsigned int len) override;

    // Hands the host the five status flags as boolean alarms.
    void RunCheckThreshold() override;

private:
    unsigned int HeldLines() const;
    int TakeStatusAnswer();
    int TakeDataAnswer();
    unsigned char* RecordByte(std::size_t offset);

    const unsigned char* cmd_status_;
    const unsigned char* cmd_data_;
};
