#include "import/palette.h"

#include <libimagequant.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace kelp {

namespace {

constexpr Colour unused_entry{0, 0, 0, 0};

std::uint32_t key(Colour c) {
  return std::uint32_t{c.red} | std::uint32_t{c.green} << 8 | std::uint32_t{c.blue} << 16 |
         std::uint32_t{c.alpha} << 24;
}

bool shows_texture(const TexturePixels& current, const Image& image) {
  bool indexed = !image.indices.empty();
  std::size_t count = indexed ? image.indices.size() : image.pixels.size();
  if (count != current.indices.size()) return false;
  if (indexed && image.palette == current.palette && image.indices == current.indices) return true;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t index = current.indices[i];
    Colour shown = indexed ? image.palette[image.indices[i]] : image.pixels[i];
    if (index >= current.palette.size() || current.palette[index] != shown) return false;
  }
  return true;
}

std::vector<Colour> padded(std::vector<Colour> palette, std::size_t entries) {
  palette.resize(entries, unused_entry);
  return palette;
}

// The palette kept: unchanged pixels keep their index, changed ones take the lowest index of
// their colour. Nothing when a colour is missing from the palette.
std::optional<TexturePixels> within_palette(const TexturePixels& current, const Image& image) {
  if (image.pixels.size() != current.indices.size()) return std::nullopt;
  std::unordered_map<std::uint32_t, std::uint8_t> lowest;
  for (std::size_t i = current.palette.size(); i-- > 0;) {
    lowest[key(current.palette[i])] = static_cast<std::uint8_t>(i);
  }
  TexturePixels texture{current.palette, current.indices};
  for (std::size_t i = 0; i < image.pixels.size(); ++i) {
    std::uint8_t kept = texture.indices[i];
    if (kept < current.palette.size() && current.palette[kept] == image.pixels[i]) continue;
    auto found = lowest.find(key(image.pixels[i]));
    if (found == lowest.end()) return std::nullopt;
    texture.indices[i] = found->second;
  }
  return texture;
}

// A palette of the image's colours in order of first appearance; nothing when there are more
// than `entries`.
std::optional<TexturePixels> first_appearance(const Image& image, std::size_t entries) {
  std::unordered_map<std::uint32_t, std::uint8_t> seen;
  TexturePixels texture;
  texture.indices.reserve(image.pixels.size());
  for (Colour colour : image.pixels) {
    auto [at, added] = seen.try_emplace(key(colour), static_cast<std::uint8_t>(seen.size()));
    if (added) {
      if (texture.palette.size() == entries) return std::nullopt;
      texture.palette.push_back(colour);
    }
    texture.indices.push_back(at->second);
  }
  texture.palette = padded(std::move(texture.palette), entries);
  return texture;
}

double mean_error(const Image& image, const TexturePixels& texture) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < image.pixels.size(); ++i) {
    Colour a = image.pixels[i], b = texture.palette[texture.indices[i]];
    total += std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue) +
             std::abs(a.alpha - b.alpha);
  }
  return static_cast<double>(total) / (4.0 * static_cast<double>(image.pixels.size()));
}

template <typename T, void (*destroy)(T*)>
struct Deleter {
  void operator()(T* p) const { destroy(p); }
};
using Attributes = std::unique_ptr<liq_attr, Deleter<liq_attr, liq_attr_destroy>>;
using QuantImage = std::unique_ptr<liq_image, Deleter<liq_image, liq_image_destroy>>;
using Quantized = std::unique_ptr<liq_result, Deleter<liq_result, liq_result_destroy>>;

// Quantizes on the file's 0..255 alpha scale, which the library weighs colours by; alphas
// above the record's opaque value count as opaque here.
TexturePixels quantize(const Image& image, std::size_t entries, bool dither) {
  std::vector<std::uint8_t> rgba;
  rgba.reserve(4 * image.pixels.size());
  for (Colour c : image.pixels) {
    rgba.insert(rgba.end(), {c.red, c.green, c.blue,
                             alpha_to_file(std::min<std::uint8_t>(c.alpha, console_opaque))});
  }
  Attributes attributes(liq_attr_create());
  if (!attributes) throw std::bad_alloc();
  liq_set_max_colors(attributes.get(), static_cast<int>(entries));
  int side = static_cast<int>(image.side);
  QuantImage input(liq_image_create_rgba(attributes.get(), rgba.data(), side, side, 0));
  liq_result* raw_result = nullptr;
  if (!input || liq_image_quantize(input.get(), attributes.get(), &raw_result) != LIQ_OK) {
    throw std::bad_alloc();  // the library fails only for want of memory at quality 0..100
  }
  Quantized result(raw_result);
  liq_set_dithering_level(result.get(), dither ? 1.0f : 0.0f);
  TexturePixels texture;
  texture.indices.resize(image.pixels.size());
  liq_write_remapped_image(result.get(), input.get(), texture.indices.data(),
                           texture.indices.size());
  const liq_palette* palette = liq_get_palette(result.get());
  for (unsigned i = 0; i < palette->count; ++i) {
    const liq_color& c = palette->entries[i];
    texture.palette.push_back({c.r, c.g, c.b, alpha_from_file(c.a)});
  }
  texture.palette = padded(std::move(texture.palette), entries);
  return texture;
}

std::size_t distinct_colours(const Image& image) {
  std::unordered_set<std::uint32_t> colours;
  for (Colour c : image.pixels) colours.insert(key(c));
  return colours.size();
}

// The rules that go by the image's colours alone (an image of pixels, no palette).
PaletteResult by_colours(const TexturePixels& current, const Image& image, bool dither) {
  std::size_t entries = current.palette.size();
  if (auto kept = within_palette(current, image)) return {PaletteRule::same_palette, *kept};
  if (auto fresh = first_appearance(image, entries)) return {PaletteRule::new_palette, *fresh};
  PaletteResult result{PaletteRule::quantized, quantize(image, entries, dither)};
  result.image_colours = distinct_colours(image);
  result.mean_error = mean_error(image, result.texture);
  return result;
}

}  // namespace

PaletteResult image_to_texture(const TexturePixels& current, const Image& image, bool dither) {
  std::size_t entries = current.palette.size();
  if (shows_texture(current, image)) return {PaletteRule::unchanged, current};
  if (!image.palette.empty() && image.palette.size() <= entries) {
    return {PaletteRule::image_palette, {padded(image.palette, entries), image.indices}};
  }
  if (image.indices.empty()) return by_colours(current, image, dither);
  std::vector<Colour> pixels;
  pixels_of(image, pixels);
  return by_colours(current, {image.side, std::move(pixels), {}, {}}, dither);
}

}  // namespace kelp
