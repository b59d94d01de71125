#include "tools/smdhost/JsonOutput.h"

#include <json/writer.h>

#include "tools/smdhost/OutputLine.h"

void JsonOutput::Take(const Event& event)
{
    static const Json::StreamWriterBuilder builder = [] {
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        writer["emitUTF8"] = true;
        writer["precision"] = 7;
        return writer;
    }();
    const std::string line = Json::writeString(builder, event.json) + "\n";
    WriteOutputLine(fd_, line);
}
