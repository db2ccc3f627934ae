#pragma once

// Small text routines of the service: query strings, base64, XML text, eBay time stamps and
// prices. std::string throughout, as the answers are built byte by byte.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The raw "k=v&k=v" part of a request target, split without turning '+' into a blank: the
// program sends base64 values unencoded. %XX escapes are decoded.
std::vector<std::pair<std::string, std::string>> ParseRawQuery(std::string_view target);

std::string PercentDecode(std::string_view text);

// Strict standard base64 (padding optional, no blanks); nullopt for anything else.
std::optional<std::string> Base64Decode(std::string_view text);
std::string Base64EncodeStd(std::string_view bytes);

// The program encodes the low 8 bits of each character, so the bytes are Latin-1; a text that is
// already valid UTF-8 is taken as it is. Control characters become blanks.
std::string KeywordBytesToUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view text);

// Appends the text with &, <, >, " escaped and characters that XML 1.0 cannot hold dropped.
void AppendXmlEscaped(std::string& out, std::string_view text);
std::string XmlEscaped(std::string_view text);

// "YYYY-MM-DDThh:mm:ss.fffZ" for milliseconds since 1970 (UTC).
std::string EbayTime(std::int64_t msSinceEpoch);
void AppendEbayTime(std::string& out, std::int64_t msSinceEpoch);
// The inverse; nullopt when the text is not of that form.
std::optional<std::int64_t> ParseEbayTimeMs(std::string_view text);

// "P1DT2H3M4S" for a number of seconds (0 and below give "PT0S").
void AppendDuration(std::string& out, std::int64_t seconds);

// Cents as "12.50".
void AppendCents(std::string& out, std::int64_t cents);
// A decimal price text ("10", "99.50", "1,5" is refused) in cents; nullopt when not a price.
std::optional<std::int64_t> ParsePriceCents(std::string_view text);

// Decimal integer without sign or with a leading '-'; nullopt on anything else or overflow.
std::optional<std::int64_t> ParseInt(std::string_view text);

std::string Lowered(std::string_view text);
std::string Trimmed(std::string_view text);
