#pragma once

// The demo market's category tree: a few dozen eBay-like categories with their ids, the words
// that point to them, and the vocabulary that listings in them are titled with.

#include <string>
#include <string_view>
#include <vector>

struct TCategory
{
    int id;
    const char* name;
    int parentId;                      // 0 for a top-level category
    int priceLevelCents;               // typical price in US dollars, in cents
    std::vector<const char*> keywords; // words that suggest this category
    std::vector<const char*> brands;
    std::vector<const char*> nouns; // what a listing here is called when the query says nothing
};

struct TCategorySuggestion
{
    int id = 0;
    std::string name;
    std::vector<std::pair<int, std::string>> parents; // from the top downwards
    int percent = 0;
};

const std::vector<TCategory>& DemoCategories();
const TCategory* FindCategory(int id);
// The category and every category below it.
bool CategoryWithin(int id, int ancestorId);
// Leaf categories at or below `id` (the category itself when it has no children).
std::vector<const TCategory*> LeavesUnder(int id);

// Up to ten leaf categories for a keyword text, most likely first, with percentages that add up
// to at most 100. Words that point nowhere still get a deterministic answer.
std::vector<TCategorySuggestion> SuggestCategories(std::string_view keywords);
