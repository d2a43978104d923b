// Re-import end to end: unpack, edit, import, and read the rebuilt file back with kelp.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "builders.h"
#include "files.h"
#include "image_builders.h"
#include "png_files.h"

namespace kelp::test {
namespace {

Picture picture(std::uint16_t side, unsigned colours, unsigned seed) {
  std::vector<Rgba> palette = varied_palette(colours, seed);
  for (Rgba& c : palette) c.a = static_cast<std::uint8_t>(c.a % 129);  // the console's scale
  return make_picture(side, palette,
                      [=](unsigned x, unsigned y) { return (x + 2 * y + seed) % colours; });
}

// The picture's pixels as a PNG shows them: alpha scaled to 0..255.
std::vector<Rgba> shown(const Picture& p) {
  std::vector<Rgba> pixels;
  for (std::uint8_t i : p.indices) {
    Rgba c = p.palette[i];
    c.a = static_cast<std::uint8_t>((c.a * 255 + 64) / 128);
    pixels.push_back(c);
  }
  return pixels;
}

// `package` with `sectors` empty sectors inserted before entry `index`.
ByteVec with_gap(ByteVec img, std::size_t index, std::uint16_t sectors) {
  std::size_t slots = 0;
  while (img[4 * slots + 2] | img[4 * slots + 3]) ++slots;
  std::uint16_t start = static_cast<std::uint16_t>(img[4 * index] | img[4 * index + 1] << 8);
  img.insert(img.begin() + start * 2048, std::size_t{sectors} * 2048, 0);
  for (std::size_t s = index; s <= slots; ++s) {
    put_u16(img, 4 * s, static_cast<std::uint16_t>((img[4 * s] | img[4 * s + 1] << 8) + sectors));
  }
  return img;
}

ByteVec cut(const ByteVec& bytes, std::size_t keep) {
  return ByteVec(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep));
}

ByteVec with_bad_crc(ByteVec png) {
  png[32] ^= 1;  // the last byte of the header chunk's CRC
  return png;
}

ByteVec shared_slot(ByteVec img, std::size_t from, std::size_t to) {
  for (int b = 0; b < 4; ++b) img[4 * to + b] = img[4 * from + b];
  return img;
}

class Import : public ::testing::Test {
 protected:
  // Writes the source, exports it with `export_args` into images/, and returns the run.
  RunResult unpack(const std::string& name, const ByteVec& bytes,
                   std::vector<std::string> export_args = {"--png", "--raw"}) {
    write_file(dir.path / name, bytes);
    fs::create_directories(dir.path / "images");
    std::vector<std::string> args{kelp_binary(), name, "-o", "images"};
    args.insert(args.end(), export_args.begin(), export_args.end());
    return run_kelp(dir.path, args);
  }
  RunResult import(const std::string& name, std::vector<std::string> more = {}) {
    std::vector<std::string> args{kelp_binary(), "--import", "images", name, "-o", "out"};
    args.insert(args.end(), more.begin(), more.end());
    return run_kelp(dir.path, args);
  }
  void put_image(const std::string& name, const ByteVec& bytes) {
    write_file(dir.path / "images" / name, bytes);
  }
  ByteVec rebuilt(const std::string& name) { return read_file(dir.path / "out" / name); }
  // The PNG kelp writes for `entry` of the rebuilt file.
  DecodedPng reexported(const std::string& name, const std::string& entry) {
    TempDir again;
    write_file(again.path / name, rebuilt(name));
    EXPECT_EQ(run_kelp(again.path, {kelp_binary(), "--png", name}).exit_code, 0);
    return decode_png(read_file(again.path / (entry + ".png")));
  }
  TempDir dir;
};

TEST_F(Import, UneditedExportsGiveTheSourceBackByteForByte) {
  ByteVec tx4 = tx4_record(picture(3, 16, 1)), tx8 = tx8_record(picture(4, 256, 2));
  Picture raw = picture(4, 16, 10);  // alpha on another scale, the last entry opaque
  raw.palette[3].a = 200, raw.palette[15].a = 255;
  ByteVec inner = package({tx4, archive({tx8, package({tx4_record(raw)}), mot_record()})});
  struct Case {
    std::string name;
    ByteVec bytes;
  };
  const std::vector<Case> cases{
      {"nest.img", package({tx8, inner, mot_record(), text_bytes("other"), tx4})},
      {"shared.img", shared_slot(package({tx8, tx4, tx8}), 0, 2)},
      {"gap.img", with_gap(package({tx4, tx8, package({tx4})}), 1, 3)},
      {"title.dat", archive({tx4, package({tx8, inner}), mot_record(), text_bytes("x")})},
  };
  for (const Case& c : cases) {
    for (std::vector<std::string> form :
         {std::vector<std::string>{"--png", "--raw"}, std::vector<std::string>{"--raw"}}) {
      SCOPED_TRACE(c.name + " " + form[0]);
      fs::remove_all(dir.path / "images");
      fs::remove_all(dir.path / "out");
      ASSERT_EQ(unpack(c.name, c.bytes, form).exit_code, 0);
      RunResult run = import(c.name);
      EXPECT_EQ(run.exit_code, 0) << run.err;
      EXPECT_EQ(run.out, banner_text());
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;  // the summary
      EXPECT_EQ(rebuilt(c.name), c.bytes);
    }
  }
}

TEST_F(Import, EachPaletteRuleAndImageForm) {
  Picture tx8 = picture(4, 256, 3), tx4 = picture(4, 16, 4);
  std::vector<Rgba> recoloured = shown(tx8);  // rule 3: colours of the palette, moved about
  std::swap(recoloured[0], recoloured[5]);
  std::vector<Rgba> fresh(16, Rgba{1, 2, 3, 255});  // rule 4: two new colours
  fresh[1] = {200, 100, 50, 0};
  std::vector<Rgba> fresh_shown = fresh;  // a clear pixel shows the texture's clear colour
  fresh_shown[1] = {0, 0, 0, 0};
  std::vector<Rgba> many;  // rule 5 for TX4: 16 x 16 pixels of 256 colours
  for (unsigned i = 0; i < 256; ++i)
    many.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i / 2), 40, 255});
  std::vector<Rgba> gradient;  // rule 5 for TX8: a smooth 64 x 64 image of 4096 colours
  for (unsigned y = 0; y < 64; ++y)
    for (unsigned x = 0; x < 64; ++x)
      gradient.push_back({static_cast<std::uint8_t>(4 * x), static_cast<std::uint8_t>(4 * y),
                          static_cast<std::uint8_t>(2 * (x + y)), 255});
  Picture big = picture(16, 16, 5);
  PngContent indexed{4, 4, 3, 8, {}, {{9, 8, 7, 255}, {6, 5, 4, 0}}, ""};  // rule 2
  for (int i = 0; i < 16; ++i) indexed.rows.push_back(static_cast<std::uint8_t>(i % 2));
  std::vector<Rgba> indexed_shown;
  for (int i = 0; i < 16; ++i) indexed_shown.push_back(indexed.palette[i % 2]);
  PngContent sixteen{4, 4, 6, 16, {}, {}, ""};
  for (const Rgba& c : fresh)
    for (std::uint8_t v : {c.r, c.g, c.b, c.a}) sixteen.rows.insert(sixteen.rows.end(), {v, v});
  Image bmp{4, 4, {}};  // kelp's own BMP form, alpha on the record's scale
  Image v5{4, 4, {}};   // an editor's BMP, alpha 0..255
  Image rgb{4, 4, {}};  // 24 bits: the texture's alpha
  std::vector<Rgba> kept_alpha = fresh, tx4_shown = shown(tx4);
  for (int y = 3; y >= 0; --y) {
    for (int x = 0; x < 4; ++x) {
      const Rgba& c = fresh[y * 4 + x];
      bmp.pixels.insert(bmp.pixels.end(),
                        {c.b, c.g, c.r, static_cast<std::uint8_t>(c.a ? 128 : 0)});
      v5.pixels.insert(v5.pixels.end(), {c.b, c.g, c.r, c.a});
      rgb.pixels.insert(rgb.pixels.end(), {c.b, c.g, c.r});
      kept_alpha[y * 4 + x].a = tx4_shown[y * 4 + x].a;
    }
  }
  struct Case {
    std::string what, file;
    ByteVec image;
    std::vector<Rgba> want;  // the texture's pixels after the import, as a PNG shows them
    bool tx4;
  };
  const std::vector<Case> cases{
      {"indexed PNG", "s_0000.png", png_file(indexed), indexed_shown, false},
      {"palette kept", "s_0000.png", rgba_png(4, recoloured), recoloured, false},
      {"new palette", "s_0001.png", rgba_png(4, fresh), fresh_shown, true},
      {"16-bit PNG", "s_0001.png", png_file(sixteen), fresh_shown, true},
      {"kelp's BMP", "s_0001.bmp", bitmap_file(bmp), fresh_shown, true},
      {"V5 BMP", "s_0000.bmp", v5_bitmap_file(v5), fresh_shown, false},
      {"24-bit BMP", "s_0001.bmp", bitmap24_file(rgb), kept_alpha, true},
      {"V5 BMP, alpha mask 0", "s_0001.bmp", patched(v5_bitmap_file(v5), 66, 0), kept_alpha, true},
      {"s_0002.png: 256 colours quantized to 16", "s_0002.png", rgba_png(16, many), {}, true},
      {"s_0003.png: 4096 colours quantized to 256",
       "s_0003.png",
       rgba_png(64, gradient),
       {},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir.path / "images");
    fs::remove_all(dir.path / "out");
    write_file(dir.path / "s.img", package({tx8_record(tx8), tx4_record(tx4), tx4_record(big),
                                            tx8_record(picture(64, 256, 6))}));
    fs::create_directories(dir.path / "images");
    put_image(c.file, c.image);
    RunResult run = import("s.img");
    EXPECT_EQ(run.exit_code, 0) << run.err;
    DecodedPng png = reexported("s.img", c.file.substr(0, 6));
    if (c.want.empty()) {  // quantized: named, and within a mean error of 12 per channel
      std::size_t at = run.err.find(c.what + ", mean error ");
      ASSERT_NE(at, std::string::npos) << run.err;
      EXPECT_LE(std::stod(run.err.substr(at + c.what.size() + 13)), 12.0) << run.err;
      continue;
    }
    EXPECT_EQ(png.pixels, c.want);
    if (c.what == "palette kept") {
      std::vector<Rgba> palette = tx8.palette;
      for (Rgba& p : palette) p.a = static_cast<std::uint8_t>((p.a * 255 + 64) / 128);
      EXPECT_EQ(png.palette, palette);
    }
  }
}

TEST_F(Import, EntriesThatGrowMoveTheirNeighboursAtEveryLevel) {
  ByteVec tx4 = tx4_record(picture(8, 16, 6)), tx8 = tx8_record(picture(8, 256, 7));
  ByteVec grown(5000, 0x5A);  // three sectors where the MOT record took one
  struct Case {
    std::string what;
    ByteVec source;
    std::string bin;  // the entry given new bytes
    std::string moved;
  };
  const std::vector<Case> cases{
      {"in the source", package({mot_record(), tx4, tx8}), "g_0000.bin",
       "2 entries of g.img moved"},
      {"in a nested package", package({tx4, package({mot_record(), tx8}), tx8}), "g_0001_0000.bin",
       "1 entry of g.img moved"},
      {"in a package in an archive", package({tx4, archive({tx8, package({mot_record(), tx4})})}),
       "g_0001_0001_0000.bin", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir.path / "images");
    fs::remove_all(dir.path / "out");
    ASSERT_EQ(unpack("g.img", c.source, {"--raw"}).exit_code, 0);
    auto before = files_in(dir.path / "images");
    put_image(c.bin, grown);
    RunResult run = import("g.img");
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err.find("moved") != std::string::npos, !c.moved.empty()) << run.err;
    if (!c.moved.empty()) {
      EXPECT_NE(run.err.find(c.moved), std::string::npos) << run.err;
    }
    TempDir again;
    write_file(again.path / "g.img", rebuilt("g.img"));
    ASSERT_EQ(run_kelp(again.path, {kelp_binary(), "--raw", "g.img"}).exit_code, 0);
    auto after = files_in(again.path);
    after.erase("g.img");
    ByteVec padded = grown;
    padded.resize(6144, 0);
    before[c.bin] = padded;
    EXPECT_TRUE(after == before);
  }
}

TEST_F(Import, RefusalsWriteNothing) {
  ByteVec tx4 = tx4_record(picture(4, 16, 8));
  ByteVec damaged = tx4;
  put_u32(damaged, 8, 0xFFFFFF00);
  ByteVec source = shared_slot(package({tx4, tx4, mot_record(), damaged}), 0, 1);
  std::vector<Rgba> red(16, Rgba{255, 0, 0, 255}), blue(16, Rgba{0, 0, 255, 255});
  struct Case {
    std::string what;
    std::function<void()> images;
    std::string reason;
  };
  const std::vector<Case> cases{
      {"size",
       [&] {
         put_image("r_0000.png", png_file({5, 4, 6, 8, ByteVec(80, 9), {}, ""}));
       },
       "kelp: r_0000.png is 5x4, the texture is 4x4\n"},
      {"not a PNG", [&] { put_image("r_0000.png", text_bytes("not a picture")); },
       "kelp: r_0000.png is not a PNG or BMP\n"},
      {"cut short", [&] { put_image("r_0000.png", cut(rgba_png(4, red), 40)); },
       "kelp: r_0000.png is cut short\n"},
      {"broken data", [&] { put_image("r_0000.png", with_bad_crc(rgba_png(4, red))); },
       "kelp: r_0000.png is damaged (its CRC does not match)\n"},
      {"a BMP header size of 2^31",
       [&] {
         put_image("r_0000.bmp", patched(bitmap_file({4, 4, ByteVec(64, 0)}), 14, 1u << 31));
       },
       "kelp: r_0000.bmp has an unknown BMP header size (2147483648)\n"},
      {"two names for one entry",
       [&] {
         put_image("r_0000.png", rgba_png(4, red));
         put_image("R_0000.PNG", rgba_png(4, red));
       },
       "kelp: R_0000.PNG: and r_0000.png name the same entry; neither is read\n"},
      {"empty .bin", [&] { put_image("r_0002.bin", {}); }, "r_0002.bin: is empty"},
      {"shared record, two edits",
       [&] {
         put_image("r_0000.png", rgba_png(4, red));
         put_image("r_0001.png", rgba_png(4, blue));
       },
       "r_0001.png: changes the record that r_0000.png changes, differently"},
      {"damaged record", [&] { put_image("r_0003.png", rgba_png(4, red)); },
       "r_0003.png: the entry is damaged"},
      {"a FIFO", [&] { mkfifo((dir.path / "images" / "r_0000.png").c_str(), 0600); },
       "r_0000.png: not a regular file"},
      {"a text bomb",
       [&] {
         ByteVec text{'k', 0, 0};
         append(text, deflated_zeros(std::uint64_t{1} << 28));
         put_image("r_0000.png", with_chunk_after_header(rgba_png(4, red), "zTXt", text));
       },
       "kelp: r_0000.png holds chunks larger than kelp reads (reached chunk/cache limits)\n"},
      {"an image of 2^31 rows",
       [&] { put_image("r_0000.png", with_header_size(rgba_png(4, red), 4, 0x7FFFFFFF)); },
       "kelp: r_0000.png is 4x2147483647, the texture is 4x4\n"},
      {"an RLE bitmap",
       [&] {
         ByteVec bmp = bitmap_file({4, 4, ByteVec(64, 0)});
         put_u16(bmp, 28, 8), put_u32(bmp, 30, 1);
         put_image("r_0000.bmp", bmp);
       },
       "kelp: r_0000.bmp is not a bitmap kelp reads (compressed (RLE) bitmaps are not "
       "supported; save it uncompressed)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir.path / "images");
    write_file(dir.path / "r.img", source);
    fs::create_directories(dir.path / "images");
    c.images();
    RunResult run = import("r.img");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(c.reason), run.err.rfind(c.reason)) << run.err;  // said once
    EXPECT_TRUE(run.err.ends_with("kelp: nothing was written\n")) << run.err;
    EXPECT_FALSE(fs::exists(dir.path / "out"));  // not even the output folder
    RunResult dry = run_kelp(dir.path, {kelp_binary(), "--import", "images", "--list", "r.img"});
    EXPECT_EQ(dry.exit_code, 1);
    EXPECT_NE(dry.out.find(" refused ("), std::string::npos) << dry.out;
  }
}

TEST_F(Import, WarnsOfStrayFilesAndSaysWhatItWrote) {
  Picture p = picture(4, 16, 9);
  ASSERT_EQ(unpack("w.img", package({tx4_record(p), tx4_record(p)})).exit_code, 0);
  std::vector<Rgba> green(16, Rgba{0, 255, 0, 255});
  put_image("w_0001.png", rgba_png(4, green));
  put_image("w_0001.bmp", text_bytes("not read"));
  put_image("w_0000_0001.png", text_bytes("a copy"));
  put_image("notes.png", text_bytes("not ours"));
  fs::create_directories(dir.path / "images" / "backup");
  RunResult run = import("w.img");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err,
            "kelp: images/backup: is a folder; not read\n"
            "kelp: w_0001.png: both w_0001.png and w_0001.bmp exist; reading w_0001.png\n"
            "kelp: images/w_0000_0001.png: matches no entry; not read\n"
            "kelp: 1 texture replaced (0 quantized), 1 unchanged, 0 raw entries replaced, 0 "
            "archive entries re-coded; wrote out/w.img\n");
  run = import("w.img");  // the name is taken now
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_NE(run.err.find("kelp: out/w.img exists; writing out/w_0001.img\nkelp: 1 texture"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(rebuilt("w_0001.img"), rebuilt("w.img"));
  EXPECT_EQ(reexported("w.img", "w_0001").pixels, green);
}

// What editors do to a texture that was not edited, or was edited elsewhere: each keeps the
// texture as it was (or names what changed), whatever the editor dropped or rewrote.
TEST_F(Import, EditorsResavesKeepWhatTheyDidNotChange) {
  Picture raw = make_picture(16, varied_palette(256, 11), [](unsigned x, unsigned y) {
    return (x * 7 + y * 3) % 256;
  });  // palette alpha above 128: raw alpha
  Picture console = picture(8, 16, 12);
  console.palette[0] = {71, 112, 76, 0};  // clear, with a colour of its own
  console.palette[1] = {9, 9, 9, 100};
  for (std::size_t i = 0; i < console.indices.size(); i += 3) console.indices[i] = 0;
  for (std::size_t i = 1; i < console.indices.size(); i += 5) console.indices[i] = 1;
  ByteVec source = package({tx8_record(raw), tx4_record(console)});
  std::vector<Rgba> console_shown = shown(console), one_level = console_shown,
                    zeroed = console_shown, edited(64, Rgba{1, 2, 3, 255});
  std::size_t alpha_only = 0;
  for (Rgba& c : one_level) {
    if (c.a != 0 && c.a != 255) c.a = 255, ++alpha_only;
  }
  for (Rgba& c : zeroed) {
    if (c.a == 0) c = {0, 0, 0, 0};
  }
  std::vector<Rgba> raw_pixels;
  for (std::uint8_t i : raw.indices) raw_pixels.push_back(raw.palette[i]);
  Image pillow{8, 8, {}}, rgb{8, 8, {}};  // kelp's BMP form, with alpha on 0..255 and with none
  for (int y = 7; y >= 0; --y) {
    for (int x = 0; x < 8; ++x) {
      const Rgba& c = console_shown[y * 8 + x];
      pillow.pixels.insert(pillow.pixels.end(), {c.b, c.g, c.r, c.a});
      rgb.pixels.insert(rgb.pixels.end(), {c.b, c.g, c.r});
    }
  }
  struct Case {
    std::string what, file;
    ByteVec image;
    bool unchanged;
    std::string warning;
  };
  const std::vector<Case> cases{
      {"raw alpha, kelp:alpha dropped", "e_0000.png", rgba_png(16, raw_pixels), true, ""},
      {"raw alpha, kelp:alpha says scaled", "e_0000.png", rgba_png(16, raw_pixels, "scaled"), true,
       "e_0000.png: says its alpha is scaled, but the texture's is raw; read as the texture's"},
      {"0..255 alpha in kelp's BMP form", "e_0001.bmp", bitmap_file(pillow), true, ""},
      {"no alpha: a 24-bit BMP", "e_0001.bmp", bitmap24_file(rgb), true,
       "e_0001.bmp: has no alpha; the texture's transparency was kept"},
      {"clear pixels written as (0, 0, 0, 0)", "e_0001.png", rgba_png(8, zeroed), true, ""},
      {"one level of transparency", "e_0001.png", rgba_png(8, one_level), false,
       "e_0001.png: " + std::to_string(alpha_only) +
           " pixels changed only their transparency; some editors keep one level of "
           "transparency"},
      {"a name in another case", "E_0001.PNG", rgba_png(8, edited), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir.path / "images");
    fs::remove_all(dir.path / "out");
    ASSERT_EQ(unpack("e.img", source, {"--png"}).exit_code, 0);
    std::string exported = c.file.substr(0, 6) + ".png";
    for (char& ch : exported) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    fs::remove(dir.path / "images" / exported);
    put_image(c.file, c.image);
    RunResult run = import("e.img");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(rebuilt("e.img") == source, c.unchanged) << run.err;
    EXPECT_NE(run.err.find(c.unchanged ? "0 textures replaced" : "1 texture replaced"),
              std::string::npos)
        << run.err;
    if (!c.warning.empty()) {
      EXPECT_NE(run.err.find("kelp: " + c.warning + "\n"), std::string::npos) << run.err;
    }
  }
}

// Quantized: the error counts what shows, clear entries take the texture's clear colour, and the
// dry run shows it all without writing.
TEST_F(Import, QuantizesHonestlyAndTheDryRunShowsIt) {
  Picture console = picture(8, 16, 13);
  console.palette[0] = {71, 112, 76, 0};
  for (std::size_t i = 0; i < console.indices.size(); i += 2) console.indices[i] = 0;
  std::vector<Rgba> pixels;
  for (unsigned i = 0; i < 64; ++i) {  // 32 clear pixels of junk colours, 32 of a gradient
    auto v = static_cast<std::uint8_t>(i * 4);
    pixels.push_back(i % 2 ? Rgba{v, static_cast<std::uint8_t>(255 - v), 90, 255}
                           : Rgba{static_cast<std::uint8_t>(i * 3), v, 7, 0});
  }
  ASSERT_EQ(unpack("q.img", package({tx4_record(console)}), {"--png"}).exit_code, 0);
  put_image("q_0000.png", rgba_png(8, pixels));
  for (bool json : {false, true}) {
    RunResult dry = run_kelp(dir.path, {kelp_binary(), "--import", "images",
                                        json ? "--json" : "--list", "q.img", "-o", "out"});
    EXPECT_EQ(dry.exit_code, 0) << dry.err;
    EXPECT_FALSE(fs::exists(dir.path / "out"));
    std::string want =
        json ? R"({"entry":"q_0000","file":"q_0000.png","result":"quantized","colours":33,)"
             : "q_0000 q_0000.png quantized (33 colours quantized to 16, mean error ";
    EXPECT_TRUE(dry.out.starts_with(want)) << dry.out;
    EXPECT_TRUE(dry.err.ends_with("re-coded; would write out/q.img\n")) << dry.err;
  }
  RunResult run = import("q.img");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::size_t at = run.err.find("mean error ");
  ASSERT_NE(at, std::string::npos) << run.err;
  EXPECT_LE(std::stod(run.err.substr(at + 11)), 3.0) << run.err;
  DecodedPng png = reexported("q.img", "q_0000");
  for (std::size_t i = 0; i < 64; i += 2) EXPECT_EQ(png.pixels[i], (Rgba{71, 112, 76, 0})) << i;
  std::uint8_t next = 0;  // the palette in order of first appearance, top row first
  for (std::uint8_t index : png.indices) {
    ASSERT_LE(index, next);
    if (index == next) ++next;
  }
}

}  // namespace
}  // namespace kelp::test
