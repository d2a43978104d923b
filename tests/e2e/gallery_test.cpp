// The gallery and changes pages end to end: written by kelp, opened by headless Chromium from
// file://, and probed as a user would click them.
#include <gtest/gtest.h>

#include "browser.h"
#include "builders.h"
#include "files.h"
#include "image_builders.h"

namespace kelp::test {
namespace {

// Names that are markup, and a byte that is not UTF-8, in every entry name.
const std::string hostile = "<img src=x onerror=document.title='pwned'>\xFF";

Picture picture(std::uint16_t side, unsigned colours, std::uint8_t alpha) {
  std::vector<Rgba> palette = varied_palette(colours, side);
  for (Rgba& colour : palette) colour.a = alpha;
  return make_picture(side, palette, [=](unsigned x, unsigned y) { return (x + 2 * y) % colours; });
}

// Top-level textures (one with raw alpha), a nested package, an archive and a damaged record.
ByteVec gallery_source() {
  ByteVec damaged = tx4_record(picture(4, 16, 128));
  put_u32(damaged, 8, 0xFFFFFF00);
  return package({tx8_record(picture(8, 256, 128)), tx8_record(picture(6, 256, 200)),
                  package({tx4_record(picture(4, 16, 64)), damaged}),
                  archive({tx4_record(picture(5, 16, 128))})});
}

// What the probe reports of a gallery: the tiles, then what filtering, folding, the alpha
// toggle and the large view do.
constexpr const char* gallery_probe = R"(
  const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
  const tiles = [...document.querySelectorAll(".tile")];
  const images = [...document.querySelectorAll(".tile img")];
  while (images.some((image) => !image.getAttribute("src"))) await sleep(10);  // near the screen
  await Promise.all([...document.querySelectorAll(".tile img")].map((i) => i.decode().catch(() => 0)));
  const name = (tile) => tile.querySelector(".caption").firstChild.textContent;
  const shown = () => tiles.filter((tile) => !tile.hidden).map(name);
  const facts = {title: document.title, scripted: document.querySelectorAll("[onerror]").length};
  facts.tiles = tiles.map((tile) => {
    const image = tile.querySelector("img");
    return {name: name(tile), width: image ? image.naturalWidth : null,
            src: image ? image.getAttribute("src") : null, text: tile.textContent};
  });
  const filter = document.getElementById("filter");
  filter.value = "_0003_";
  filter.dispatchEvent(new Event("input"));
  facts.filtered = shown();
  facts.hidden_folders = document.querySelectorAll("details[hidden]").length;
  filter.value = "";
  filter.dispatchEvent(new Event("input"));
  const nested = document.querySelector("details details");
  nested.querySelector("summary").click();
  facts.folded = !nested.open && !nested.querySelector(".tile").checkVisibility();
  nested.querySelector("summary").click();
  facts.unfolded = nested.open;
  const raw = tiles[1].querySelector("img");
  facts.console_filter = getComputedStyle(raw).filter;
  document.getElementById("file-alpha").click();
  facts.file_filter = getComputedStyle(raw).filter;
  tiles[0].click();
  await sleep(500);
  const swatches = [...document.querySelectorAll("#swatches .swatch")];
  facts.view = {open: document.getElementById("view").open, swatches: swatches.length,
                first: swatches[0].title, last: swatches[swatches.length - 1].title};
  return facts;
)";

std::string swatch_title(std::size_t index, const Rgba& c, int file_alpha) {
  return "index " + std::to_string(index) + ": RGBA " + std::to_string(c.r) + ", " +
         std::to_string(c.g) + ", " + std::to_string(c.b) + ", " + std::to_string(c.a) +
         " (file alpha " + std::to_string(file_alpha) + ")";
}

TEST(Gallery, ShowsEveryTextureInTheTreeAndAnswersTheUser) {
  ASSERT_TRUE(have_browser()) << "Chromium is needed (tools/setup test installs it)";
  TempDir dir;
  std::string source = hostile + ".img";
  write_file(dir.path / source, gallery_source());
  fs::create_directory(dir.path / "out");
  write_file(dir.path / "out" / (hostile + ".html"), text_bytes("not ours"));
  RunResult run = run_kelp(dir.path, {kelp_binary(), "--png", "--gallery", "-o", "out", source});
  EXPECT_EQ(run.out, banner_text());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(dir.path / "out" / (hostile + ".html")), text_bytes("not ours"));
  fs::path page = dir.path / "out" / (hostile + "_0001.html");
  ASSERT_TRUE(fs::exists(page)) << run.err;

  Browsed browsed = browse(page, gallery_probe);
  const nlohmann::json& facts = browsed.facts;
  EXPECT_EQ(browsed.console, std::vector<std::string>{});
  const std::string shown = "<img src=x onerror=document.title='pwned'>\uFFFD";  // as --json
  const std::string url = "%3Cimg%20src%3Dx%20onerror%3Ddocument.title%3D%27pwned%27%3E%FF";
  EXPECT_EQ(facts["title"], shown + ".img \u2014 kelp");
  EXPECT_EQ(facts["scripted"], 0);
  struct Tile {
    std::string suffix;
    int width;  // 0: no image (damaged)
    std::string text;
  };
  const std::vector<Tile> tiles{{"_0000", 8, "TX8 \u00b7 8 px \u00b7 256 colours"},
                                {"_0001", 6, "TX8 \u00b7 6 px \u00b7 256 colours"},
                                {"_0002_0000", 4, "TX4 \u00b7 4 px \u00b7 16 colours"},
                                {"_0002_0001", 0, "palette runs past the end of its"},
                                {"_0003_0000", 5, "TX4 \u00b7 5 px \u00b7 16 colours"}};
  ASSERT_EQ(facts["tiles"].size(), tiles.size()) << facts.dump();
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const nlohmann::json& tile = facts["tiles"][i];
    EXPECT_EQ(tile["name"], shown + tiles[i].suffix);
    EXPECT_NE(tile["text"].get<std::string>().find(tiles[i].text), std::string::npos) << tile;
    if (tiles[i].width == 0) {
      EXPECT_TRUE(tile["src"].is_null());
    } else {
      EXPECT_EQ(tile["src"], url + tiles[i].suffix + ".png");
      EXPECT_EQ(tile["width"], tiles[i].width);
    }
  }
  EXPECT_EQ(facts["filtered"], nlohmann::json::array({shown + "_0003_0000"}));
  EXPECT_EQ(facts["hidden_folders"], 1);  // the nested package, which has no such tile
  EXPECT_TRUE(facts["folded"]);
  EXPECT_TRUE(facts["unfolded"]);
  EXPECT_NE(facts["console_filter"].get<std::string>().find("console-alpha"), std::string::npos);
  EXPECT_EQ(facts["file_filter"], "none");
  Picture first = picture(8, 256, 128);
  EXPECT_EQ(facts["view"]["open"], true);
  EXPECT_EQ(facts["view"]["swatches"], 256);
  EXPECT_EQ(facts["view"]["first"], swatch_title(0, first.palette[0], 255));
  EXPECT_EQ(facts["view"]["last"], swatch_title(255, first.palette[255], 255));
}

constexpr const char* changes_probe = R"(
  await Promise.all([...document.images].map((image) => image.decode().catch(() => 0)));
  return [...document.querySelectorAll("tr.change")].map((row) => {
    const cells = [...row.cells];
    const width = (cell) => (cell.querySelector("img") ? cell.querySelector("img").naturalWidth : 0);
    return {entry: cells[0].textContent, file: cells[1].textContent, result: cells[2].textContent,
            before: width(cells[3]), after: width(cells[4]), warnings: cells[5].textContent};
  });
)";

TEST(Gallery, ChangesPageShowsEachFileBeforeAndAfter) {
  ASSERT_TRUE(have_browser()) << "Chromium is needed (tools/setup test installs it)";
  TempDir dir;
  Picture kept = picture(8, 256, 128), quantized = picture(8, 16, 128);
  write_file(dir.path / "s.img", package({tx8_record(kept), tx8_record(picture(6, 256, 128)),
                                          tx4_record(quantized), mot_record()}));
  fs::create_directory(dir.path / "edits");
  std::vector<Rgba> pixels;
  for (std::uint8_t index : kept.indices) pixels.push_back(kept.palette[index ^ 1]);
  for (Rgba& pixel : pixels) pixel.a = 255;
  write_file(dir.path / "edits" / "s_0000.png", rgba_png(8, pixels));
  std::vector<Rgba> many;  // 64 colours for a 16-colour palette: quantized
  for (std::uint8_t i = 0; i < 64; ++i)
    many.push_back({static_cast<std::uint8_t>(i * 4), 7, i, 255});
  write_file(dir.path / "edits" / "s_0002.png", rgba_png(8, many));
  write_file(dir.path / "edits" / "s_0001.png", text_bytes("not an image"));
  write_file(dir.path / "edits" / "s_0003.bin", text_bytes("new bytes"));

  RunResult run = run_kelp(
      dir.path, {kelp_binary(), "--import", "edits", "--list", "--gallery", "-o", "out", "s.img"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("nothing was written but the changes page out/s-changes.html"),
            std::string::npos)
      << run.err;
  ASSERT_EQ(files_in(dir.path / "out").size(), 1u);
  Browsed browsed = browse(dir.path / "out" / "s-changes.html", changes_probe);
  EXPECT_EQ(browsed.console, std::vector<std::string>{});
  nlohmann::json want = nlohmann::json::parse(R"([
    {"entry": "s_0000", "file": "s_0000.png", "result": "replacedpalette kept", "before": 8,
     "after": 8, "warnings": ""},
    {"entry": "s_0001", "file": "s_0001.png", "result": "refusedis not a PNG or BMP",
     "before": 6, "after": 0, "warnings": "s_0001.png is not a PNG or BMP"},
    {"entry": "s_0002", "file": "s_0002.png", "result": "quantized", "before": 8, "after": 8,
     "warnings": "quantized"},
    {"entry": "s_0003", "file": "s_0003.bin", "result": "replacednew bytes", "before": 0,
     "after": 0, "warnings": ""}])");
  nlohmann::json& quantized_row = browsed.facts.at(2);  // its mean error is the quantizer's
  std::string result = quantized_row["result"], warnings = quantized_row["warnings"];
  EXPECT_TRUE(result.starts_with("quantized64 colours quantized to 16, mean error ")) << result;
  EXPECT_EQ(warnings, "s_0002.png: " + result.substr(9) + " per channel");
  quantized_row["result"] = quantized_row["warnings"] = "quantized";
  EXPECT_EQ(browsed.facts, want) << browsed.facts.dump(1);

  fs::remove(dir.path / "edits" / "s_0001.png");
  run = run_kelp(dir.path, {kelp_binary(), "--import", "edits", "--gallery", "-o", "out", "s.img"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir.path / "out" / "s.img"));
  EXPECT_TRUE(fs::exists(dir.path / "out" / "s-changes_0001.html"));
}

}  // namespace
}  // namespace kelp::test
