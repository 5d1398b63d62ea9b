#include "png.h"

#include <algorithm>
#include <array>

namespace overlay {

namespace {

uint32_t Crc(const std::string& bytes, size_t from) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) != 0 ? 0xedb88320U ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xffffffffU;
    for (size_t i = from; i < bytes.size(); ++i) {
        c = table[(c ^ static_cast<uint8_t>(bytes[i])) & 0xffU] ^ (c >> 8);
    }
    return c ^ 0xffffffffU;
}

void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((v >> shift) & 0xffU));
    }
}

void Chunk(std::string& out, const char* type, const std::string& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    const size_t from = out.size();
    out += type;
    out += data;
    Put32(out, Crc(out, from));
}

} // namespace

std::string EncodePng(const uint32_t* pixels, int width, int height) {
    std::string raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 4 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0'); // no filter
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
            const uint32_t a = p >> 24;
            // Back from premultiplied, rounded.
            const auto straight = [a](uint32_t c) {
                return a == 0 ? 0U : std::min(255U, (c * 255U + a / 2) / a);
            };
            raw.push_back(static_cast<char>(straight((p >> 16) & 0xffU)));
            raw.push_back(static_cast<char>(straight((p >> 8) & 0xffU)));
            raw.push_back(static_cast<char>(straight(p & 0xffU)));
            raw.push_back(static_cast<char>(a));
        }
    }
    // zlib: a header, stored blocks of at most 65535 bytes, the Adler-32 of the data.
    std::string z = "\x78\x01";
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + n >= raw.size();
        z.push_back(last ? '\x01' : '\x00');
        z.push_back(static_cast<char>(n & 0xffU));
        z.push_back(static_cast<char>(n >> 8));
        z.push_back(static_cast<char>(~n & 0xffU));
        z.push_back(static_cast<char>((~n >> 8) & 0xffU));
        z.append(raw, at, n);
        if (last) {
            break;
        }
    }
    uint32_t a = 1;
    uint32_t b = 0;
    for (const char c : raw) {
        a = (a + static_cast<uint8_t>(c)) % 65521U;
        b = (b + a) % 65521U;
    }
    Put32(z, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    Put32(header, static_cast<uint32_t>(width));
    Put32(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, deflate, no filter, no lace
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", "");
    return png;
}

} // namespace overlay
