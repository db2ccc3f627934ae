#pragma once

// The keyword syntax that the program's search help explains, read once into a small tree that
// the demo market matches titles against and that the eBay backend translates. No Qt here, so
// the fuzz target builds it on its own.

#include <string>
#include <string_view>
#include <vector>

// One alternative: its words must all occur; for a quoted phrase, next to each other in order.
// Words are lower-case; '*' in a word stands for one or more characters.
struct TKeywordAtom
{
    std::vector<std::string> words;
    bool phrase = false;

    bool HasWildcard() const;
};

// A required term holds when any alternative occurs; an excluded term fails the whole query
// when any of its alternatives occurs.
struct TKeywordTerm
{
    bool exclude = false;
    std::vector<TKeywordAtom> alternatives;
};

class TKeywordQuery
{
public:
    // Reads any text leniently: unbalanced quotes or parentheses run to the end, empty groups
    // and stray signs are dropped. Never throws.
    static TKeywordQuery Parse(std::string_view text);

    const std::vector<TKeywordTerm>& Terms() const { return fTerms; }
    bool Empty() const { return fTerms.empty(); }
    int RequiredCount() const;

    // A normalised text of the tree: equal trees give equal texts.
    std::string Canonical() const;

    // True when the text (a title, or a title and a description) satisfies every term.
    bool Matches(std::string_view text) const;
    // Same, with the text already split by SplitWords.
    bool MatchesWords(const std::vector<std::string>& words) const;

    // The positive words for a search engine that knows only AND and one level of (a, b)
    // alternatives: phrases become plain words, wildcards are cut down to their longest literal
    // part. Everything else is for MatchesWords to check on our side.
    std::string PositiveText() const;

private:
    std::vector<TKeywordTerm> fTerms;
};

// Lower-case words of a text: runs of letters, digits and non-ASCII bytes. Keeps '*' when
// `keepWildcard` (for reading the query itself).
std::vector<std::string> SplitWords(std::string_view text, bool keepWildcard = false);

// '*' matches one or more characters; everything else matches itself.
bool WildcardMatch(std::string_view pattern, std::string_view word);

bool AtomMatches(const TKeywordAtom& atom, const std::vector<std::string>& words);
