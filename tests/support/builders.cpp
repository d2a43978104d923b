#include "builders.h"

#include "containers/lzss.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace kelp::test {

namespace {

constexpr std::size_t sector = 2048;
constexpr std::size_t header = 16;

std::size_t sectors_for(std::size_t bytes) {
  return bytes == 0 ? 1 : (bytes + sector - 1) / sector;
}

// Stored TX8 position of the colour for index i: bits 3 and 4 exchanged.
unsigned tx8_position(unsigned i) {
  unsigned bit3 = (i >> 3) & 1, bit4 = (i >> 4) & 1;
  return (i & ~0x18u) | (bit3 << 4) | (bit4 << 3);
}

ByteVec record(const char* tag, const Picture& picture, std::size_t entries, bool tx8) {
  std::size_t palette_bytes = entries * 4;
  std::size_t pixels = std::size_t{picture.side} * picture.side;
  std::size_t index_bytes = tx8 ? pixels : (pixels + 1) / 2;
  ByteVec bytes(header + palette_bytes + index_bytes, 0);
  bytes[0] = tag[0], bytes[1] = tag[1], bytes[2] = tag[2], bytes[3] = 0x01;
  put_u16(bytes, 4, picture.side);
  put_u32(bytes, 8, header);
  put_u32(bytes, 12, static_cast<std::uint32_t>(header + palette_bytes));
  for (unsigned i = 0; i < entries && i < picture.palette.size(); ++i) {
    const Rgba& c = picture.palette[i];
    std::size_t at = header + 4 * (tx8 ? tx8_position(i) : i);
    bytes[at] = c.r, bytes[at + 1] = c.g, bytes[at + 2] = c.b, bytes[at + 3] = c.a;
  }
  std::size_t indices_at = header + palette_bytes;
  for (std::size_t k = 0; k < pixels; ++k) {
    std::uint8_t index = picture.indices[k];
    if (tx8) {
      bytes[indices_at + k] = index;
    } else {
      bytes[indices_at + k / 2] |= static_cast<std::uint8_t>((index & 0x0F) << (k % 2 ? 4 : 0));
    }
  }
  return bytes;
}

}  // namespace

void write_file(const std::filesystem::path& path, const ByteVec& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void put_u16(ByteVec& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<std::uint8_t>(value);
  bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(ByteVec& bytes, std::size_t at, std::uint32_t value) {
  put_u16(bytes, at, static_cast<std::uint16_t>(value));
  put_u16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

void append(ByteVec& bytes, const ByteVec& more) {
  std::size_t at = bytes.size();
  bytes.resize(at + more.size());
  std::copy(more.begin(), more.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

ByteVec text_bytes(const std::string& text) {
  return ByteVec(text.begin(), text.end());
}

ByteVec tx4_record(const Picture& picture) {
  return record("TX4", picture, 16, false);
}

ByteVec tx8_record(const Picture& picture) {
  return record("TX8", picture, 256, true);
}

ByteVec patched(ByteVec bytes, std::size_t at, std::uint32_t value) {
  put_u32(bytes, at, value);
  return bytes;
}

ByteVec bitmap_header(std::uint32_t width, std::uint32_t height) {
  ByteVec bytes(54, 0);
  bytes[0] = 'B', bytes[1] = 'M';
  put_u32(bytes, 2, 54 + 4 * width * height);
  put_u32(bytes, 10, 54);
  put_u32(bytes, 14, 40);
  put_u32(bytes, 18, width);
  put_u32(bytes, 22, height);
  put_u16(bytes, 26, 1);
  put_u16(bytes, 28, 32);
  return bytes;
}

ByteVec expected_bitmap(const Picture& picture) {
  unsigned side = picture.side;
  ByteVec bytes = bitmap_header(side, side);
  for (unsigned row = side; row-- > 0;) {
    for (unsigned x = 0; x < side; ++x) {
      unsigned index = picture.indices[row * side + x];
      Rgba c = index < picture.palette.size() ? picture.palette[index] : Rgba{};
      bytes.insert(bytes.end(), {c.b, c.g, c.r, c.a});
    }
  }
  return bytes;
}

ByteVec package(const std::vector<ByteVec>& entries) {
  std::size_t table_sectors = sectors_for((entries.size() + 1) * 4);
  ByteVec bytes(table_sectors * sector, 0);
  std::size_t next = table_sectors;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::size_t length = sectors_for(entries[i].size());
    put_u16(bytes, 4 * i, static_cast<std::uint16_t>(next));
    put_u16(bytes, 4 * i + 2, static_cast<std::uint16_t>(length));
    ByteVec padded = entries[i];
    padded.resize(length * sector, 0);
    append(bytes, padded);
    next += length;
  }
  put_u16(bytes, 4 * entries.size(), static_cast<std::uint16_t>(next));
  return bytes;
}

ByteVec literal_coded(const ByteVec& bytes) {
  ByteVec coded;
  for (std::size_t at = 0; at < bytes.size(); at += 8) {
    std::size_t count = std::min<std::size_t>(8, bytes.size() - at);
    coded.push_back(static_cast<std::uint8_t>((1u << count) - 1));
    coded.insert(coded.end(), bytes.begin() + at, bytes.begin() + at + count);
  }
  return coded;
}

ByteVec archive(const std::vector<ByteVec>& entries, Coding coding) {
  ByteVec bytes(8 + 4 * entries.size(), 0);
  put_u32(bytes, 0, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ByteVec coded = coding == Coding::encoder ? lzss_encode(entries[i]) : literal_coded(entries[i]);
    put_u32(bytes, 4 + 4 * i, static_cast<std::uint32_t>(bytes.size()));
    ByteVec length(4, 0);
    put_u32(length, 0, static_cast<std::uint32_t>(coded.size()));
    append(bytes, length);
    append(bytes, coded);
  }
  return bytes;
}

ByteVec bitmap_file(const Image& image) {
  ByteVec bytes = bitmap_header(image.width, image.height);
  append(bytes, image.pixels);
  return bytes;
}

ByteVec v5_bitmap_file(const Image& image) {
  ByteVec bytes(138, 0);
  bytes[0] = 'B', bytes[1] = 'M';
  put_u32(bytes, 2, static_cast<std::uint32_t>(138 + image.pixels.size()));
  put_u32(bytes, 10, 138);
  put_u32(bytes, 14, 124);
  put_u32(bytes, 18, image.width);
  put_u32(bytes, 22, image.height);
  put_u16(bytes, 26, 1);
  put_u16(bytes, 28, 32);
  put_u32(bytes, 30, 3);  // bit fields
  put_u32(bytes, 34, static_cast<std::uint32_t>(image.pixels.size()));
  put_u32(bytes, 38, 2835), put_u32(bytes, 42, 2835);
  put_u32(bytes, 54, 0x00FF0000), put_u32(bytes, 58, 0x0000FF00);
  put_u32(bytes, 62, 0x000000FF), put_u32(bytes, 66, 0xFF000000);
  put_u32(bytes, 70, 0x73524742);  // "sRGB"
  put_u32(bytes, 122, 4);          // rendering intent
  append(bytes, image.pixels);
  return bytes;
}

ByteVec bitmap24_file(const Image& image) {
  ByteVec bytes = bitmap_header(image.width, image.height);
  put_u16(bytes, 28, 24);
  std::size_t row = 3 * std::size_t{image.width}, padded = (row + 3) / 4 * 4;
  for (std::size_t at = 0; at < image.pixels.size(); at += row) {
    bytes.insert(bytes.end(), image.pixels.begin() + at, image.pixels.begin() + at + row);
    bytes.resize(bytes.size() + padded - row, 0);
  }
  put_u32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

Image varied_image(std::uint32_t width, std::uint32_t height, unsigned seed) {
  Image image{width, height, {}};
  std::uint32_t state = seed * 2246822519u + 7;
  for (std::uint64_t k = 0; k < std::uint64_t{4} * width * height; ++k) {
    state = state * 1664525u + 1013904223u;
    image.pixels.push_back(static_cast<std::uint8_t>(state >> 24));
  }
  return image;
}

ByteVec mot_record() {
  ByteVec bytes = text_bytes("MOT");
  bytes.resize(64, 0x11);
  return bytes;
}

std::vector<Rgba> varied_palette(unsigned count, unsigned seed) {
  std::vector<Rgba> palette;
  std::uint32_t state = seed * 2654435761u + 1;
  for (unsigned i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    palette.push_back(
        {static_cast<std::uint8_t>(state >> 24), static_cast<std::uint8_t>(state >> 16),
         static_cast<std::uint8_t>(state >> 8), static_cast<std::uint8_t>(i * 37 + seed)});
  }
  return palette;
}

ByteVec fan_out(int levels, const ByteVec& inner) {
  ByteVec level = inner;
  for (int i = 0; i < levels; ++i) {
    ByteVec doubled = package({level, mot_record()});
    put_u32(doubled, 8, doubled[0] | doubled[1] << 8 | doubled[2] << 16 | doubled[3] << 24);
    level = doubled;
  }
  return level;
}

}  // namespace kelp::test
