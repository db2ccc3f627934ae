#include "untKeywordQuery.h"

#include <cstdint>

namespace {

bool IsBlank(unsigned char c)
{
    return c <= 0x20 || c == 0x7F;
}

bool IsWordByte(unsigned char c, bool keepWildcard)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           c >= 0x80 || (keepWildcard && c == '*');
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A word made only of wildcards still means "any word"; runs of '*' mean the same as one.
std::string CollapseStars(std::string word)
{
    std::string out;
    out.reserve(word.size());
    for (char c : word)
        if (c != '*' || out.empty() || out.back() != '*')
            out += c;
    return out;
}

class TParser
{
public:
    explicit TParser(std::string_view text) : fText(text) {}

    std::vector<TKeywordTerm> Run()
    {
        std::vector<TKeywordTerm> terms;
        while (fPos < fText.size()) {
            const unsigned char c = fText[fPos];
            if (IsBlank(c) || c == ',' || c == ')') {
                ++fPos;
                continue;
            }
            bool exclude = false;
            if (c == '-') {
                exclude = true;
                while (fPos < fText.size() && fText[fPos] == '-')
                    ++fPos;
                if (fPos >= fText.size() || IsBlank(fText[fPos]) || fText[fPos] == ',')
                    continue;
            }
            TKeywordTerm term;
            term.exclude = exclude;
            const char d = fText[fPos];
            if (d == '(') {
                ++fPos;
                ReadGroup(term.alternatives);
            } else if (d == '"') {
                ++fPos;
                TKeywordAtom atom = ReadPhrase();
                if (!atom.words.empty())
                    term.alternatives.push_back(std::move(atom));
            } else {
                TKeywordAtom atom = ReadWord(false);
                if (!atom.words.empty())
                    term.alternatives.push_back(std::move(atom));
            }
            if (!term.alternatives.empty())
                terms.push_back(std::move(term));
        }
        return terms;
    }

private:
    static TKeywordAtom AtomOf(std::string_view raw, bool phrase)
    {
        TKeywordAtom atom;
        atom.words = SplitWords(raw, true);
        for (std::string& w : atom.words)
            w = CollapseStars(std::move(w));
        // "i-pod" is one word to the user but two to the title splitter: keep them together.
        atom.phrase = phrase || atom.words.size() > 1;
        return atom;
    }

    TKeywordAtom ReadPhrase()
    {
        const std::size_t start = fPos;
        while (fPos < fText.size() && fText[fPos] != '"')
            ++fPos;
        TKeywordAtom atom = AtomOf(fText.substr(start, fPos - start), true);
        if (fPos < fText.size())
            ++fPos;
        return atom;
    }

    TKeywordAtom ReadWord(bool inGroup)
    {
        const std::size_t start = fPos;
        while (fPos < fText.size()) {
            const unsigned char c = fText[fPos];
            if (IsBlank(c) || c == ',' || c == '(' || c == ')' || c == '"')
                break;
            ++fPos;
        }
        std::string_view raw = fText.substr(start, fPos - start);
        if (inGroup)
            while (!raw.empty() && raw.front() == '-')
                raw.remove_prefix(1);
        return AtomOf(raw, false);
    }

    // Inside parentheses: alternatives separated by commas, each made of words and phrases
    // separated by blanks. A nested '(' is read as a blank.
    void ReadGroup(std::vector<TKeywordAtom>& alternatives)
    {
        TKeywordAtom current;
        int pieces = 0;
        auto close = [&] {
            if (!current.words.empty()) {
                if (pieces > 1)
                    current.phrase = false;
                alternatives.push_back(std::move(current));
            }
            current = TKeywordAtom();
            pieces = 0;
        };
        while (fPos < fText.size()) {
            const unsigned char c = fText[fPos];
            if (c == ')') {
                ++fPos;
                break;
            }
            if (c == ',') {
                ++fPos;
                close();
                continue;
            }
            if (IsBlank(c) || c == '(') {
                ++fPos;
                continue;
            }
            TKeywordAtom piece;
            if (c == '"') {
                ++fPos;
                piece = ReadPhrase();
            } else {
                piece = ReadWord(true);
            }
            if (piece.words.empty())
                continue;
            if (pieces == 0)
                current.phrase = piece.phrase;
            ++pieces;
            for (std::string& w : piece.words)
                current.words.push_back(std::move(w));
        }
        close();
    }

    std::string_view fText;
    std::size_t fPos = 0;
};

// The longest run of a wildcard word that holds no '*'.
std::string LiteralPart(const std::string& word)
{
    std::string best, run;
    for (char c : word) {
        if (c == '*') {
            if (run.size() > best.size())
                best = run;
            run.clear();
        } else {
            run += c;
        }
    }
    return run.size() > best.size() ? run : best;
}

} // namespace

bool TKeywordAtom::HasWildcard() const
{
    for (const std::string& w : words)
        if (w.find('*') != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> SplitWords(std::string_view text, bool keepWildcard)
{
    std::vector<std::string> words;
    std::string current;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (IsWordByte(c, keepWildcard)) {
            current += Lower(ch);
        } else if (!current.empty()) {
            words.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty())
        words.push_back(std::move(current));
    return words;
}

bool WildcardMatch(std::string_view pattern, std::string_view word)
{
    if (pattern.find('*') == std::string_view::npos)
        return pattern == word;
    // Greedy match with one back-track point; each '*' must eat at least one character.
    std::size_t p = 0, w = 0;
    std::size_t starP = std::string_view::npos, starW = 0;
    while (w < word.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starW = ++w; // the one character the star must take
        } else if (p < pattern.size() && pattern[p] == word[w]) {
            ++p;
            ++w;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            w = ++starW;
        } else {
            return false;
        }
    }
    if (p < pattern.size() && pattern[p] == '*' && starP != p)
        return false; // a trailing star with nothing left to take
    return p == pattern.size();
}

bool AtomMatches(const TKeywordAtom& atom, const std::vector<std::string>& words)
{
    if (atom.words.empty())
        return false;
    if (!atom.phrase) {
        for (const std::string& aw : atom.words) {
            bool found = false;
            for (const std::string& w : words)
                if (WildcardMatch(aw, w)) {
                    found = true;
                    break;
                }
            if (!found)
                return false;
        }
        return true;
    }
    const std::size_t n = atom.words.size();
    if (n > words.size())
        return false;
    for (std::size_t i = 0; i + n <= words.size(); ++i) {
        std::size_t j = 0;
        while (j < n && WildcardMatch(atom.words[j], words[i + j]))
            ++j;
        if (j == n)
            return true;
    }
    return false;
}

TKeywordQuery TKeywordQuery::Parse(std::string_view text)
{
    TKeywordQuery query;
    query.fTerms = TParser(text).Run();
    return query;
}

int TKeywordQuery::RequiredCount() const
{
    int n = 0;
    for (const TKeywordTerm& t : fTerms)
        n += t.exclude ? 0 : 1;
    return n;
}

std::string TKeywordQuery::Canonical() const
{
    std::string out;
    for (const TKeywordTerm& t : fTerms) {
        if (!out.empty())
            out += ' ';
        if (t.exclude)
            out += '-';
        // A lone alternative of several loose words keeps its parentheses: "-(a b)" is not
        // "-a b".
        const bool group = t.alternatives.size() > 1 ||
                           (!t.alternatives[0].phrase && t.alternatives[0].words.size() > 1);
        if (group)
            out += '(';
        for (std::size_t a = 0; a < t.alternatives.size(); ++a) {
            const TKeywordAtom& atom = t.alternatives[a];
            if (a > 0)
                out += ',';
            if (atom.phrase)
                out += '"';
            for (std::size_t i = 0; i < atom.words.size(); ++i) {
                if (i > 0)
                    out += ' ';
                out += atom.words[i];
            }
            if (atom.phrase)
                out += '"';
        }
        if (group)
            out += ')';
    }
    return out;
}

bool TKeywordQuery::MatchesWords(const std::vector<std::string>& words) const
{
    for (const TKeywordTerm& t : fTerms) {
        bool any = false;
        for (const TKeywordAtom& atom : t.alternatives)
            if (AtomMatches(atom, words)) {
                any = true;
                break;
            }
        if (any == t.exclude)
            return false;
    }
    return true;
}

bool TKeywordQuery::Matches(std::string_view text) const
{
    return MatchesWords(SplitWords(text));
}

std::string TKeywordQuery::PositiveText() const
{
    std::string out;
    for (const TKeywordTerm& t : fTerms) {
        if (t.exclude)
            continue;
        std::vector<std::string> alternatives;
        bool unbounded = false;
        for (const TKeywordAtom& atom : t.alternatives) {
            std::string text;
            for (const std::string& w : atom.words) {
                const std::string literal = w.find('*') == std::string::npos ? w : LiteralPart(w);
                if (literal.size() < 2 && literal.size() != w.size())
                    continue; // "*" or "a*": nothing useful to send
                if (!text.empty())
                    text += ' ';
                text += literal;
            }
            if (text.empty())
                unbounded = true;
            else
                alternatives.push_back(std::move(text));
        }
        // One alternative that cannot be written down makes the group match anything; leave
        // the whole term to the title check.
        if (unbounded || alternatives.empty())
            continue;
        if (!out.empty())
            out += ' ';
        if (alternatives.size() == 1) {
            out += alternatives.front();
            continue;
        }
        out += '(';
        for (std::size_t i = 0; i < alternatives.size(); ++i) {
            if (i > 0)
                out += ", ";
            out += alternatives[i];
        }
        out += ')';
    }
    return out;
}
