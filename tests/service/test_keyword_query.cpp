#include "untKeywordQuery.h"

#include <gtest/gtest.h>

namespace {

struct TMatchCase
{
    const char* query;
    const char* title;
    bool matches;
};

class KeywordMatch : public ::testing::TestWithParam<TMatchCase>
{
};

TEST_P(KeywordMatch, FollowsTheSearchHelp)
{
    const TMatchCase& c = GetParam();
    EXPECT_EQ(TKeywordQuery::Parse(c.query).Matches(c.title), c.matches)
        << "query '" << c.query << "' title '" << c.title << "' tree '"
        << TKeywordQuery::Parse(c.query).Canonical() << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, KeywordMatch,
    ::testing::Values(
        // all words, by blanks or by commas outside parentheses
        TMatchCase{"ipod nano", "Apple iPod Nano 8GB", true},
        TMatchCase{"ipod nano", "Apple iPod Classic", false},
        TMatchCase{"ipod,nano", "Nano the iPod", true},
        TMatchCase{"ipod,nano", "iPod Touch", false},
        // alternatives
        TMatchCase{"(ipod,iphone)", "Apple iPhone 12", true},
        TMatchCase{"(ipod, iphone) case", "iPod Touch", false},
        TMatchCase{"(ipod, iphone) case", "iPod Touch Case", true},
        // exact phrase
        TMatchCase{"\"red case\"", "Leather Red Case", true},
        TMatchCase{"\"red case\"", "Red Leather Case", false},
        // exclusions
        TMatchCase{"ipod -case", "iPod Nano", true},
        TMatchCase{"ipod -case", "iPod Nano Case", false},
        TMatchCase{"ipod -(case,cover)", "iPod Cover", false},
        TMatchCase{"ipod -(case,cover)", "iPod Dock", true},
        TMatchCase{"ipod -\"red case\"", "iPod Red Case", false},
        TMatchCase{"ipod -\"red case\"", "iPod Case Red", true},
        // '*' is one or more characters
        TMatchCase{"ipod*", "iPods Lot", true}, TMatchCase{"ipod*", "iPod Lot", false},
        TMatchCase{"*pod", "iPod", true}, TMatchCase{"*pod", "Pod", false},
        TMatchCase{"i*d", "iPod", true}, TMatchCase{"ipod -ca*", "iPod Cases", false},
        // case and punctuation do not matter
        TMatchCase{"I-POD", "i pod nano", true}, TMatchCase{"café", "Café Racer", true},
        // lenient reading of broken input
        TMatchCase{"\"red case", "Red Case Leather", true},
        TMatchCase{"(ipod,iphone", "iPhone", true}, TMatchCase{"ipod) nano", "Nano iPod", true},
        TMatchCase{"() ipod", "iPod", true}, TMatchCase{"ipod -", "iPod", true},
        TMatchCase{"", "anything at all", true}));

TEST(KeywordQuery, ReadsBrokenInputLenientlyIntoTheSameTree)
{
    const struct
    {
        const char* text;
        const char* canonical;
    } cases[] = {
        {"  ipod   nano ", "ipod nano"},
        {"ipod,,nano", "ipod nano"},
        {"(a,b", "(a,b)"},
        {"((a,b),c)", "(a,b) c"},
        {"-(a,b)", "-(a,b)"},
        {"--word", "-word"},
        {"\"\"", ""},
        {"()", ""},
        {"-()", ""},
        {"\"ab c", "\"ab c\""},
        {"a***b", "a*b"},
        {")(", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TKeywordQuery::Parse(c.text).Canonical(), c.canonical) << c.text;
}

TEST(KeywordQuery, PositiveTextLeavesExclusionsAndWildcardsToUs)
{
    const struct
    {
        const char* text;
        const char* positive;
    } cases[] = {
        {"ipod nano -case", "ipod nano"},
        {"(ipod,iphone) -(case,cover)", "(ipod, iphone)"},
        {"\"red case\" ipod", "red case ipod"},
        {"ipod* nano", "ipod nano"},
        {"(a*,ipod)", ""},
        {"(*,ipod) nano", "nano"},
        {"-only", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TKeywordQuery::Parse(c.text).PositiveText(), c.positive) << c.text;
}

} // namespace
