// The panel as a PNG file: the bitmap's pixels encoded without any imaging library (zlib's
// stored blocks, so the bytes depend on the pixels only). Pure.
#pragma once

#include <cstdint>
#include <string>

namespace overlay {

// `pixels` are 0xAARRGGBB with the colour premultiplied by the alpha (as a layered window takes
// them), rows top to bottom; an 8-bit RGBA PNG (colour not premultiplied, as PNG has it).
std::string EncodePng(const uint32_t* pixels, int width, int height);

} // namespace overlay
