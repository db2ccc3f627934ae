#pragma once

// Reading and checking the two signed requests of the program: the keys, their values and the
// signature, computed exactly as the program computes it.

#include "untBackend.h"

#include <optional>
#include <string>
#include <string_view>

// A request we refuse outright; the program sees the body "Error: #<code> <reason>".
struct TRefusal
{
    int code = 0;
    std::string reason;
    std::string Text() const { return "Error: #" + std::to_string(code) + " " + reason; }
};

struct TCheckedSearch
{
    std::optional<TRefusal> refusal;
    std::vector<TApiError> rejected; // a well-formed request that no search can answer
    TSearchQuery query;
};

struct TCheckedSuggest
{
    std::optional<TRefusal> refusal;
    std::string keyword; // UTF-8
};

// `target` is the raw request target, path and query string as the client sent them.
TCheckedSearch CheckSearchRequest(std::string_view target);
TCheckedSuggest CheckSuggestRequest(std::string_view target);

// The signature of a search: H2 = SHA-1(K + SHA-1(Q + K + maxEntries)), lower-case hex; of a
// category request the same without maxEntries.
std::string SearchSignature(const std::string& query, const std::string& key,
                            const std::string& maxEntries);
std::string SuggestSignature(const std::string& query, const std::string& key);
