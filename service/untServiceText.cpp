#include "untServiceText.h"

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

void AppendDigits(std::string& out, std::int64_t value, int width)
{
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < 20);
    while (n < width)
        buf[n++] = '0';
    while (n > 0)
        out += buf[--n];
}

// Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm).
void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2 ? 1 : 0));
}

std::int64_t DaysFromCivil(int y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

} // namespace

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = HexValue(text[i + 1]);
            const int lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> ParseRawQuery(std::string_view target)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    const std::size_t q = target.find('?');
    if (q == std::string_view::npos)
        return pairs;
    std::string_view rest = target.substr(q + 1);
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view piece = rest.substr(0, amp);
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            if (eq == std::string_view::npos)
                pairs.emplace_back(PercentDecode(piece), std::string());
            else
                pairs.emplace_back(PercentDecode(piece.substr(0, eq)),
                                   PercentDecode(piece.substr(eq + 1)));
        }
        if (amp == std::string_view::npos)
            break;
        rest = rest.substr(amp + 1);
    }
    return pairs;
}

std::optional<std::string> Base64Decode(std::string_view text)
{
    std::size_t end = text.size();
    int padding = 0;
    while (end > 0 && text[end - 1] == '=' && padding < 2) {
        --end;
        ++padding;
    }
    const std::size_t rem = end % 4;
    if (rem == 1)
        return std::nullopt;
    if (padding > 0 && (end + padding) % 4 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(end / 4 * 3 + 3);
    std::uint32_t acc = 0;
    int bits = 0;
    for (std::size_t i = 0; i < end; ++i) {
        const int v = Base64Value(text[i]);
        if (v < 0)
            return std::nullopt;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

std::string Base64EncodeStd(std::string_view bytes)
{
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                                (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (i < bytes.size()) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = text[i];
        int extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = text[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string KeywordBytesToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    if (IsValidUtf8(bytes)) {
        for (char c : bytes)
            out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
        return out;
    }
    for (char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c < 0x80) {
            out += ch;
        } else if (c < 0xA0) {
            out += ' '; // C1 controls have no place in a keyword
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void AppendXmlEscaped(std::string& out, std::string_view text)
{
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += ch;
        }
    }
}

std::string XmlEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    AppendXmlEscaped(out, text);
    return out;
}

void AppendEbayTime(std::string& out, std::int64_t ms)
{
    std::int64_t secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const std::int64_t millis = ms - secs * 1000;
    std::int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const std::int64_t sod = secs - days * 86400;
    int y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    AppendDigits(out, y < 0 ? 0 : y, 4);
    out += '-';
    AppendDigits(out, m, 2);
    out += '-';
    AppendDigits(out, d, 2);
    out += 'T';
    AppendDigits(out, sod / 3600, 2);
    out += ':';
    AppendDigits(out, (sod / 60) % 60, 2);
    out += ':';
    AppendDigits(out, sod % 60, 2);
    out += '.';
    AppendDigits(out, millis, 3);
    out += 'Z';
}

std::string EbayTime(std::int64_t ms)
{
    std::string out;
    out.reserve(24);
    AppendEbayTime(out, ms);
    return out;
}

std::optional<std::int64_t> ParseEbayTimeMs(std::string_view t)
{
    // 2025-03-01T18:04:12.000Z; the fraction may be shorter or missing.
    if (t.size() < 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    auto num = [&](std::size_t from, std::size_t len) -> int {
        int v = 0;
        for (std::size_t i = from; i < from + len; ++i) {
            if (t[i] < '0' || t[i] > '9')
                return -1;
            v = v * 10 + (t[i] - '0');
        }
        return v;
    };
    const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2),
              s = num(17, 2);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 60)
        return std::nullopt;
    int millis = 0;
    std::size_t i = 19;
    if (i < t.size() && t[i] == '.') {
        ++i;
        int digits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            if (digits < 3)
                millis = millis * 10 + (t[i] - '0');
            ++digits;
            ++i;
        }
        for (; digits < 3; ++digits)
            millis *= 10;
    }
    if (i >= t.size() || t[i] != 'Z')
        return std::nullopt;
    const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    return ((days * 86400 + h * 3600 + mi * 60 + s) * 1000) + millis;
}

void AppendDuration(std::string& out, std::int64_t seconds)
{
    out += 'P';
    if (seconds <= 0) {
        out += "T0S";
        return;
    }
    const std::int64_t days = seconds / 86400;
    if (days > 0) {
        AppendDigits(out, days, 1);
        out += 'D';
    }
    out += 'T';
    const std::int64_t h = (seconds / 3600) % 24, m = (seconds / 60) % 60, s = seconds % 60;
    if (h > 0) {
        AppendDigits(out, h, 1);
        out += 'H';
    }
    if (m > 0) {
        AppendDigits(out, m, 1);
        out += 'M';
    }
    AppendDigits(out, s, 1);
    out += 'S';
}

void AppendCents(std::string& out, std::int64_t cents)
{
    if (cents < 0) {
        out += '-';
        cents = -cents;
    }
    AppendDigits(out, cents / 100, 1);
    out += '.';
    AppendDigits(out, cents % 100, 2);
}

std::optional<std::int64_t> ParsePriceCents(std::string_view text)
{
    const std::string t = Trimmed(text);
    if (t.empty() || t.size() > 15)
        return std::nullopt;
    std::int64_t whole = 0, frac = 0;
    int fracDigits = 0;
    bool dot = false, digits = false;
    for (char c : t) {
        if (c == '.' && !dot) {
            dot = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (!dot) {
                whole = whole * 10 + (c - '0');
            } else if (fracDigits < 2) {
                frac = frac * 10 + (c - '0');
                ++fracDigits;
            }
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    if (fracDigits == 1)
        frac *= 10;
    return whole * 100 + frac;
}

std::optional<std::int64_t> ParseInt(std::string_view t)
{
    if (t.empty() || t.size() > 18)
        return std::nullopt;
    bool negative = false;
    std::size_t i = 0;
    if (t[0] == '-') {
        negative = true;
        i = 1;
        if (t.size() == 1)
            return std::nullopt;
    }
    std::int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return std::nullopt;
        v = v * 10 + (t[i] - '0');
    }
    return negative ? -v : v;
}

std::string Lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Trimmed(std::string_view text)
{
    std::size_t a = 0, b = text.size();
    while (a < b && static_cast<unsigned char>(text[a]) <= 0x20)
        ++a;
    while (b > a && static_cast<unsigned char>(text[b - 1]) <= 0x20)
        --b;
    return std::string(text.substr(a, b - a));
}
