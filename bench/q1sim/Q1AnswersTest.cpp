#include "bench/q1sim/Q1Answers.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Exchange {
    const char* command;
    std::optional<std::string> answer;
};

TEST(Q1Answers, answers_each_query_is_silent_on_actions_and_echoes_what_it_does_not_know)
{
    const Exchange exchanges[] = {
        {"Q1", std::string(q1::kStatus)}, {"F", std::string(q1::kRatings)},
        {"I", std::string(q1::kInfo)},    {"Q", std::nullopt},
        {"T", std::nullopt},              {"TL", std::nullopt},
        {"T10", std::nullopt},            {"S05", std::nullopt},
        {"S.5R0010", std::nullopt},       {"C", std::nullopt},
        {"CT", std::nullopt},             {"", std::nullopt},
        {"QGS", std::string("QGS\r")},    {"M", std::string("M\r")},
    };
    for (const Exchange& exchange : exchanges) {
        EXPECT_EQ(q1::AnswerTo(exchange.command), exchange.answer) << exchange.command;
    }
}

// nutdrv_qx reads each answer by its length and by columns: a field that
// moves is refused or read as another value.
TEST(Q1Answers, status_has_the_fields_at_the_columns_the_megatec_driver_reads)
{
    const std::string status = q1::kStatus;
    ASSERT_EQ(status.size(), 47u);
    EXPECT_EQ(status.front(), '(');
    EXPECT_EQ(status.back(), '\r');
    // input, input fault, output, load, frequency, battery, temperature, bits
    const std::vector<std::pair<std::size_t, std::size_t>> columns = {
        {1, 5}, {7, 11}, {13, 17}, {19, 21}, {23, 26}, {28, 31}, {33, 36}, {38, 45}};
    for (const auto& [first, last] : columns) {
        EXPECT_EQ(status.substr(first, last - first + 1).find(' '), std::string::npos) << first;
        EXPECT_TRUE(status[first - 1] == '(' || status[first - 1] == ' ') << first;
        EXPECT_TRUE(status[last + 1] == ' ' || status[last + 1] == '\r') << last;
    }
    EXPECT_EQ(status.substr(38, 8).find_first_not_of("01"), std::string::npos);
}

TEST(Q1Answers, ratings_and_information_have_their_lengths_and_frames)
{
    const std::string ratings = q1::kRatings;
    const std::string info = q1::kInfo;
    EXPECT_EQ(ratings.size(), 22u);
    EXPECT_EQ(info.size(), 39u);
    for (const std::string& answer : {ratings, info}) {
        EXPECT_EQ(answer.front(), '#');
        EXPECT_EQ(answer.back(), '\r');
    }
}

}  // namespace
