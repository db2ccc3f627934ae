#include "untPng.h"

#include <array>
#include <vector>

namespace {

std::uint32_t Crc32(const unsigned char* data, std::size_t n, std::uint32_t crc = 0)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Put32(std::string& out, std::uint32_t v)
{
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

void Chunk(std::string& out, const char* type, const std::string& data)
{
    Put32(out, static_cast<std::uint32_t>(data.size()));
    std::string body(type, 4);
    body += data;
    out += body;
    Put32(out, Crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

std::string DemoPicturePng(std::uint64_t seed, int size)
{
    const int w = size, h = size;
    std::uint64_t r = Mix(seed);
    const int bg1[3] = {int(r & 0xFF), int((r >> 8) & 0xFF), int((r >> 16) & 0xFF)};
    r = Mix(r);
    const int bg2[3] = {int(r & 0xFF), int((r >> 8) & 0xFF), int((r >> 16) & 0xFF)};
    struct TBlob
    {
        int x, y, radius, rgb[3];
        bool square;
    };
    std::vector<TBlob> blobs;
    for (int i = 0; i < 4; ++i) {
        r = Mix(r);
        blobs.push_back({int(r % w),
                         int((r >> 8) % h),
                         8 + int((r >> 16) % (w / 3)),
                         {int((r >> 24) & 0xFF), int((r >> 32) & 0xFF), int((r >> 40) & 0xFF)},
                         ((r >> 48) & 1) != 0});
    }
    // Raw scanlines, each led by filter byte 0.
    std::string raw;
    raw.reserve(static_cast<std::size_t>(h) * (w * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw += '\0';
        for (int x = 0; x < w; ++x) {
            int c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = (bg1[k] * (w - x) + bg2[k] * x) / w;
            for (const TBlob& b : blobs) {
                const int dx = x - b.x, dy = y - b.y;
                const bool inside =
                    b.square ? (dx < b.radius && dx > -b.radius && dy < b.radius && dy > -b.radius)
                             : dx * dx + dy * dy < b.radius * b.radius;
                if (inside)
                    for (int k = 0; k < 3; ++k)
                        c[k] = (c[k] + 2 * b.rgb[k]) / 3;
            }
            for (int k = 0; k < 3; ++k)
                raw += static_cast<char>(c[k]);
        }
    }
    // zlib stream of stored deflate blocks: no compression library needed for a 27 KB picture.
    std::string z;
    z += '\x78';
    z += '\x01';
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + n >= raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    Put32(ihdr, static_cast<std::uint32_t>(w));
    Put32(ihdr, static_cast<std::uint32_t>(h));
    ihdr += '\x08'; // bit depth
    ihdr += '\x02'; // truecolour
    ihdr += std::string(3, '\0');
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", std::string());
    return png;
}
