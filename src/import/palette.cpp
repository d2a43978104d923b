#include "import/palette.h"

#include <libimagequant.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace kelp {

namespace {

constexpr Colour unused_entry{0, 0, 0, 0};
constexpr unsigned green_shift = 8, blue_shift = 16, alpha_shift = 24;

std::uint32_t key(Colour c) {
  return std::uint32_t{c.red} | std::uint32_t{c.green} << green_shift |
         std::uint32_t{c.blue} << blue_shift | std::uint32_t{c.alpha} << alpha_shift;
}

bool same_colour(Colour a, Colour b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

Colour pixel_of(const TexturePixels& texture, std::size_t i) {
  std::uint8_t index = texture.indices[i];
  return index < texture.palette.size() ? texture.palette[index] : unused_entry;
}

bool shows_texture(const TexturePixels& current, const std::vector<Colour>& pixels) {
  if (pixels.size() != current.indices.size()) return false;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    if (!same_visible(pixel_of(current, i), pixels[i])) return false;
  }
  return true;
}

std::vector<Colour> padded(std::vector<Colour> palette, std::size_t entries) {
  palette.resize(entries, unused_entry);
  return palette;
}

// The palette kept: unchanged pixels keep their index, changed ones take the lowest index of
// their colour (a clear pixel, the lowest clear entry). Nothing when a colour is missing.
std::optional<TexturePixels> within_palette(const TexturePixels& current,
                                            const std::vector<Colour>& pixels) {
  std::unordered_map<std::uint32_t, std::uint8_t> lowest;
  std::optional<std::uint8_t> lowest_clear;
  for (std::size_t i = current.palette.size(); i-- > 0;) {
    lowest[key(current.palette[i])] = static_cast<std::uint8_t>(i);
    if (current.palette[i].alpha == 0) lowest_clear = static_cast<std::uint8_t>(i);
  }
  TexturePixels texture{current.palette, current.indices};
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    if (same_visible(pixel_of(current, i), pixels[i])) continue;
    auto found = lowest.find(key(pixels[i]));
    if (pixels[i].alpha == 0 && lowest_clear) {
      texture.indices[i] = *lowest_clear;
    } else if (found != lowest.end()) {
      texture.indices[i] = found->second;
    } else {
      return std::nullopt;
    }
  }
  return texture;
}

// A palette of the colours in order of first appearance, top row first; nothing when there are
// more than `entries`.
std::optional<TexturePixels> first_appearance(const std::vector<Colour>& pixels,
                                              std::size_t entries) {
  std::unordered_map<std::uint32_t, std::uint8_t> seen;
  TexturePixels texture;
  texture.indices.reserve(pixels.size());
  for (Colour colour : pixels) {
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

// The palette put in order of first appearance, top row first, entries no pixel uses after
// them: the same pixels give the same bytes on every platform.
void canonical_order(TexturePixels& texture) {
  std::vector<int> new_index(texture.palette.size(), -1);
  std::vector<Colour> palette;
  for (std::uint8_t& index : texture.indices) {
    if (new_index[index] < 0) {
      new_index[index] = static_cast<int>(palette.size());
      palette.push_back(texture.palette[index]);
    }
    index = static_cast<std::uint8_t>(new_index[index]);
  }
  for (std::size_t i = 0; i < texture.palette.size(); ++i) {
    if (new_index[i] < 0) palette.push_back(texture.palette[i]);
  }
  texture.palette = std::move(palette);
}

template <typename T, void (*destroy)(T*)>
struct Deleter {
  void operator()(T* p) const { destroy(p); }
};
using Attributes = std::unique_ptr<liq_attr, Deleter<liq_attr, liq_attr_destroy>>;
using QuantImage = std::unique_ptr<liq_image, Deleter<liq_image, liq_image_destroy>>;
using Quantized = std::unique_ptr<liq_result, Deleter<liq_result, liq_result_destroy>>;

// Quantizes on the file's 0..255 alpha scale, which the library weighs colours by; alphas
// above the console's opaque value count as opaque here.
TexturePixels quantize(const std::vector<Colour>& pixels, std::uint32_t side, std::size_t entries,
                       bool dither) {
  std::vector<std::uint8_t> rgba;
  rgba.reserve(pixels.size() * sizeof(Colour));
  for (Colour c : pixels) {
    rgba.insert(rgba.end(), {c.red, c.green, c.blue,
                             alpha_to_file(std::min<std::uint8_t>(c.alpha, console_opaque))});
  }
  Attributes attributes(liq_attr_create());
  if (!attributes) throw std::bad_alloc();
  liq_set_max_colors(attributes.get(), static_cast<int>(entries));
  int size = static_cast<int>(side);
  QuantImage input(liq_image_create_rgba(attributes.get(), rgba.data(), size, size, 0));
  liq_result* raw_result = nullptr;
  if (!input || liq_image_quantize(input.get(), attributes.get(), &raw_result) != LIQ_OK) {
    throw std::bad_alloc();  // the library fails only for want of memory at quality 0..100
  }
  Quantized result(raw_result);
  liq_set_dithering_level(result.get(), dither ? 1.0f : 0.0f);
  TexturePixels texture;
  texture.indices.resize(pixels.size());
  liq_write_remapped_image(result.get(), input.get(), texture.indices.data(),
                           texture.indices.size());
  const liq_palette* palette = liq_get_palette(result.get());
  for (unsigned i = 0; i < palette->count; ++i) {
    const liq_color& c = palette->entries[i];
    texture.palette.push_back({c.r, c.g, c.b, alpha_from_file(c.a)});
  }
  canonical_order(texture);
  texture.palette = padded(std::move(texture.palette), entries);
  return texture;
}

std::size_t distinct_colours(const std::vector<Colour>& pixels) {
  std::unordered_set<std::uint32_t> colours;
  for (Colour c : pixels) colours.insert(key(c));
  return colours.size();
}

// The colour of the texture's clear pixels: the most common among them, black when it has none.
Colour clear_colour(const TexturePixels& current) {
  std::map<std::uint32_t, std::size_t> counts;
  Colour most = unused_entry;
  std::size_t most_count = 0;
  for (std::size_t i = 0; i < current.indices.size(); ++i) {
    Colour c = pixel_of(current, i);
    if (c.alpha != 0) continue;
    std::size_t count = ++counts[key(c)];
    if (count > most_count) most = c, most_count = count;
  }
  return most;
}

// The rules that go by the image's colours alone (an image of pixels, no palette). Clear pixels
// and clear palette entries take the texture's clear colour.
PaletteResult by_colours(const TexturePixels& current, std::vector<Colour> pixels,
                         std::uint32_t side, bool dither) {
  std::size_t entries = current.palette.size();
  if (auto kept = within_palette(current, pixels)) return {PaletteRule::same_palette, *kept};
  Colour clear = clear_colour(current);
  for (Colour& c : pixels) {
    if (c.alpha == 0) c = clear;
  }
  if (auto fresh = first_appearance(pixels, entries)) return {PaletteRule::new_palette, *fresh};
  PaletteResult result{PaletteRule::quantized, quantize(pixels, side, entries, dither)};
  for (Colour& entry : result.texture.palette) {
    if (entry.alpha == 0) entry = clear;
  }
  result.image_colours = distinct_colours(pixels);
  result.mean_error = quantization_error(pixels, result.texture);
  return result;
}

}  // namespace

bool same_visible(Colour a, Colour b) {
  return a == b || (a.alpha == 0 && b.alpha == 0);
}

double quantization_error(const std::vector<Colour>& pixels, const TexturePixels& texture) {
  double total = 0;
  std::size_t visible = 0;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    Colour a = pixels[i], b = pixel_of(texture, i);
    if (a.alpha == 0) continue;
    ++visible;
    double weight = std::min<double>(a.alpha, console_opaque) / console_opaque;
    total += weight * (std::abs(a.red - b.red) + std::abs(a.green - b.green) +
                       std::abs(a.blue - b.blue)) +
             std::abs(a.alpha - b.alpha);
  }
  constexpr double channels = 4;  // red, green, blue, alpha
  return visible == 0 ? 0 : total / (channels * static_cast<double>(visible));
}

bool settle_alpha(Image& image, const TexturePixels& current, bool console_scale) {
  if (image.alpha == ImageAlpha::none) {
    std::vector<Colour> pixels;
    if (image.indices.empty()) {
      pixels = std::move(image.pixels);
    } else {
      pixels_of(image, pixels);
    }
    std::uint8_t opaque = console_scale ? console_opaque : file_opaque;
    bool kept = false;  // some pixel of the texture is not opaque
    for (std::size_t i = 0; i < pixels.size() && i < current.indices.size(); ++i) {
      pixels[i].alpha = pixel_of(current, i).alpha;
      kept = kept || pixels[i].alpha != opaque;
    }
    image = {image.side, std::move(pixels), {}, {}, ImageAlpha::scaled, image.alpha_text};
    return kept;
  }
  std::vector<Colour>& colours = image.indices.empty() ? image.pixels : image.palette;
  bool above_console = std::any_of(colours.begin(), colours.end(),
                                   [](Colour c) { return c.alpha > console_opaque; });
  bool from_file = image.alpha == ImageAlpha::scaled || above_console;
  if (console_scale && from_file) {
    for (Colour& c : colours) c.alpha = alpha_from_file(c.alpha);
  }
  return false;
}

PaletteResult image_to_texture(const TexturePixels& current, const Image& image, bool dither) {
  std::size_t entries = current.palette.size();
  std::vector<Colour> made;
  const std::vector<Colour>& pixels = pixels_of(image, made);
  std::size_t alpha_only = 0;
  for (std::size_t i = 0; i < pixels.size() && i < current.indices.size(); ++i) {
    Colour was = pixel_of(current, i);
    alpha_only += !same_visible(was, pixels[i]) && same_colour(was, pixels[i]);
  }
  PaletteResult result;
  if (shows_texture(current, pixels)) {
    result = {PaletteRule::unchanged, current};
  } else if (!image.palette.empty() && image.palette.size() <= entries) {
    result = {PaletteRule::image_palette, {padded(image.palette, entries), image.indices}};
  } else {
    result = by_colours(current, pixels, image.side, dither);
  }
  result.alpha_only = alpha_only;
  return result;
}

}  // namespace kelp
