#pragma once

// The XML answers in the shapes the program walks by position and name.

#include "untBackend.h"

#include <string>

// FindItemsAdvancedResponse: Timestamp, Ack, Build, Version, SearchResult (one ItemArray of
// Item), PageNumber, TotalPages, TotalItems. With errors, the Errors shape instead.
std::string SearchAnswerXml(const TSearchOutcome& outcome, int maxEntries);

// Timestamp, Ack "Failure", one Errors element per error, Build, Version.
std::string ErrorsAnswerXml(const char* root, std::int64_t timestampMs,
                            const std::vector<TApiError>& errors);

// GetSuggestedCategoriesResponse: Timestamp, Ack, Version, Build, SuggestedCategoryArray,
// CategoryCount.
std::string SuggestAnswerXml(const TSuggestOutcome& outcome);

// The item element alone, for tests and the benchmark.
void AppendItemXml(std::string& out, const TItem& item, std::int64_t nowMs);
