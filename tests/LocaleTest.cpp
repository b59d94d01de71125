// The UPS sends numbers with a decimal point. The host process may run in
// any locale (a controller that follows the board's language settings has a
// decimal comma in German): the values must read the same whatever it is.
#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <locale>
#include <string>
#include <thread>

#include "tests/support/UpsHarness.h"
#include "ups/UpsProtocol.h"

#ifndef QUILL_LOCALE_DIR
#error "QUILL_LOCALE_DIR names the folder where the build made the test locale"
#endif

namespace {

constexpr const char* kCommaLocale = "de_DE.UTF-8";

// Every form of number the conversion takes, in the data answer's order,
// with what a "C" locale makes of each.
struct Value {
    const char* text;
    float expected;
};

constexpr Value kValues[] = {
    {"230.5", 230.5f},   {" 229.75", 229.75f},  {"+231.125", 231.125f}, {"-0.5", -0.5f},
    {"1.5e2", 150.0f},   {"2.5E-1", 0.25f},     {"0x1.8p1", 3.0f},      {"36.5A", 36.5f},
    {"\t34.25", 34.25f}, {"28.5 C", 28.5f},     {"50.", 50.0f},         {".5", 0.5f},
    {"13,6", 13.0f},     {"25.0625e0", 25.0625f}, {"20.125", 20.125f},
};

std::string DataAnswerWith(const Value (&values)[15])
{
    auto lines = ups_answers::DataLines(ups_answers::OnLine());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i].value = values[i].text;
    }
    return ups_answers::Join(lines);
}

class LocaleIndependence : public UpsHarness {
protected:
    // The build makes the decimal-comma locale with localedef into its own
    // folder, so that no locale needs to be installed system-wide.
    static void SetUpTestSuite() { setenv("LOCPATH", QUILL_LOCALE_DIR, 1); }

    void TearDown() override
    {
        std::locale::global(std::locale::classic());
        std::setlocale(LC_ALL, "C");
    }

    static void EnterCommaLocale()
    {
        ASSERT_NE(std::setlocale(LC_ALL, kCommaLocale), nullptr)
            << kCommaLocale << " cannot be had from " << QUILL_LOCALE_DIR;
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
        std::locale::global(std::locale(kCommaLocale));
    }

    // The record bytes of the block a cycle with these values publishes.
    std::string RecordOfCycle(const std::string& data)
    {
        const std::size_t before = host->published.size();
        EXPECT_EQ(Cycle(ups_answers::StatusAnswer(ups_answers::OnLine()), data), 0);
        if (host->published.size() != before + 1) {
            ADD_FAILURE() << "no block published";
            return {};
        }
        const auto& block = host->published.back().block;
        return std::string(block.begin() + 4, block.begin() + 69);
    }
};

TEST_F(LocaleIndependence, ValuesAreStoredAsInTheCLocaleWhenTheProcessHasADecimalComma)
{
    const std::string data = DataAnswerWith(kValues);
    const std::string in_c = RecordOfCycle(data);

    EnterCommaLocale();
    const std::string in_comma = RecordOfCycle(data);

    EXPECT_EQ(in_comma, in_c);
    const auto& block = host->published.back().block;
    const auto& fields = ups_protocol::kDataFields;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        EXPECT_EQ(BlockFloat(block, 4 + fields[i].offset), kValues[i].expected)
            << fields[i].tag << " from \"" << kValues[i].text << "\"";
    }
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), kCommaLocale)
        << "the host's locale is left as it was";
}

TEST_F(LocaleIndependence, NumbersTheCLocaleRefusesAreRefusedInADecimalCommaLocaleToo)
{
    EnterCommaLocale();
    for (const char* refused : {"", "abc", "1e39", "-1e39", ",5"}) {
        Value values[15];
        std::copy(std::begin(kValues), std::end(kValues), values);
        values[0].text = refused;
        host->calls.clear();
        EXPECT_EQ(Cycle(ups_answers::StatusAnswer(ups_answers::OnLine()), DataAnswerWith(values)),
                  0)
            << "\"" << refused << "\"";
        EXPECT_EQ(host->calls, (std::vector<std::string>{"start", "write", "write", "end"}))
            << "\"" << refused << "\"";
    }
    EXPECT_TRUE(host->published.empty());
}

TEST_F(LocaleIndependence, AnotherThreadKeepsItsOwnLocaleWhileCyclesRun)
{
    EnterCommaLocale();
    const locale_t own = newlocale(LC_ALL_MASK, kCommaLocale, nullptr);
    ASSERT_NE(own, nullptr);
    std::atomic<bool> done{false};
    std::atomic<int> lapses{0};
    std::thread other([&] {
        uselocale(own);
        while (!done) {
            const bool own_kept =
                uselocale(nullptr) == own && std::string(localeconv()->decimal_point) == ",";
            const bool process_kept =
                std::string(std::setlocale(LC_NUMERIC, nullptr)) == kCommaLocale;
            lapses += own_kept && process_kept ? 0 : 1;
        }
        uselocale(LC_GLOBAL_LOCALE);
    });
    const std::string data = DataAnswerWith(kValues);
    for (int cycle = 0; cycle < 50; ++cycle) {
        RecordOfCycle(data);
        EXPECT_EQ(uselocale(nullptr), LC_GLOBAL_LOCALE) << "the calling thread's locale is kept";
    }
    done = true;
    other.join();
    freelocale(own);
    EXPECT_EQ(lapses, 0);
    EXPECT_EQ(BlockFloat(host->published.back().block, 4 + ups_protocol::kDataFields[0].offset),
              230.5f);
}

}  // namespace
