#include "tools/smdhost/AnswerValues.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "tools/common/DataBlock.h"
#include "tools/common/Escape.h"
#include "tools/smdhost/AnswerCheck.h"
#include "ups/UpsProtocol.h"

namespace answer_values {

namespace {

// What is unusual in one value's text, read as the module reads it: "" for a
// finite number whole, or for a text the module refuses (no number at all, or
// one out of a float's range).
std::string Reading(const std::string& text, locale_t classic)
{
    errno = 0;
    char* end = nullptr;
    const float value = strtof_l(text.c_str(), &end, classic);
    const auto used = static_cast<std::size_t>(end - text.c_str());
    if (used == 0 || errno == ERANGE) {
        return "";
    }
    const bool partial = used < text.size();
    const bool finite = std::isfinite(value);
    if (!partial && finite) {
        return "";
    }
    std::string why = partial ? "only \"" + EscapeBytes(text.substr(0, used)) +
                                    "\" of it is a number" + (finite ? "" : ", and no finite one")
                              : "no finite number";
    return "\"" + EscapeBytes(text) + "\" stored as " + data_block::ValueText(value) + " (" + why +
           ")";
}

}  // namespace

std::string Unusual(const std::string& answer)
{
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", nullptr);
    if (classic == nullptr) {
        return "";
    }
    std::string said;
    for (const ups_protocol::Field& field : ups_protocol::kDataFields) {
        std::string text;
        if (!answer_check::ValueText(answer, field.tag, text)) {
            continue;
        }
        const std::string reading = Reading(text, classic);
        if (!reading.empty()) {
            said += (said.empty() ? "" : "; ") + std::string(field.tag) + " " + reading;
        }
    }
    return said;
}

}  // namespace answer_values
