// Keyword text from the network, as the service reads it: base64-decoded bytes turned into UTF-8,
// parsed into the query tree, matched against titles and written back out. Nothing may crash,
// hang or read out of bounds, and the normalised text must read back to itself.
#include "untKeywordQuery.h"
#include "untServiceText.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string text = KeywordBytesToUtf8(raw);
    const TKeywordQuery query = TKeywordQuery::Parse(text);

    const std::string canonical = query.Canonical();
    if (TKeywordQuery::Parse(canonical).Canonical() != canonical)
        std::abort();

    (void)query.PositiveText();
    (void)query.Matches(text);
    (void)query.Matches("Apple iPod Nano 8GB Red Case New");
    (void)query.Matches(query.PositiveText());

    // The same bytes as the base64 a client might send, well-formed or not.
    if (const auto decoded = Base64Decode(raw))
        (void)TKeywordQuery::Parse(KeywordBytesToUtf8(*decoded)).Canonical();
    std::string xml;
    AppendXmlEscaped(xml, text);
    return 0;
}
