// The panel as a PNG file: the bitmap's pixels encoded without any imaging library (zlib's
// stored blocks, so the bytes depend on the pixels only). Pure.
#pragma once

#include <cstdint>
#include <string>

namespace overlay {

// `pixels` are 0x00RRGGBB (the top byte is ignored), rows top to bottom; an 8-bit RGB PNG.
std::string EncodePng(const uint32_t* pixels, int width, int height);

} // namespace overlay
