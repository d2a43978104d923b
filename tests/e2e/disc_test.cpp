// Disc images and folders as sources, end to end: discs built by genisoimage and xorriso from a
// folder of containers, each file's listing and output compared with kelp's on that file alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "browser.h"
#include "builders.h"
#include "files.h"

namespace kelp::test {
namespace {

Picture picture(unsigned seed) {
  return make_picture(8, varied_palette(seed % 2 ? 16 : 256, seed),
                      [=](unsigned x, unsigned y) { return (x * 3 + y + seed) % 16; });
}

// The disc's files: containers in nested folders, in mixed case, and a file that is neither.
const std::vector<std::pair<std::string, ByteVec>>& disc_files() {
  static const std::vector<std::pair<std::string, ByteVec>> files{
      {"DATA/MAP.IMG", package({tx4_record(picture(1)), mot_record(), tx8_record(picture(2))})},
      {"DATA/SUB/Title.dat", archive({tx8_record(picture(3)), text_bytes("other")})},
      {"MOVIE/INTRO.PSS", text_bytes("not a container")},
      {"SYSTEM.CNF", text_bytes("BOOT2 = cdrom0:\\SLUS_000.00;1")},
  };
  return files;
}

fs::path make_tree(const fs::path& root) {
  for (const auto& [path, bytes] : disc_files()) {
    fs::create_directories((root / path).parent_path());
    write_file(root / path, bytes);
  }
  return root;
}

// Every file below `dir`, by its path there.
std::map<std::string, ByteVec> tree(const fs::path& dir) {
  std::map<std::string, ByteVec> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), dir).string()] = read_file(entry.path());
  }
  return files;
}

std::string indented(const std::string& listing) {
  std::string out;
  for (std::size_t at = 0; at < listing.size();) {
    std::size_t end = listing.find('\n', at) + 1;
    out += "  " + listing.substr(at, end - at);
    at = end;
  }
  return out;
}

// kelp's listing and --png output for each container file alone, as a disc's should hold them.
struct Alone {
  std::string listing;  // file lines and the indented trees, without the last line
  std::map<std::string, ByteVec> unpacked;
};

Alone alone(const fs::path& root, const std::map<std::string, std::uint32_t>& sectors) {
  Alone result;
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : disc_files()) paths.push_back(path);
  std::sort(paths.begin(), paths.end());
  TempDir out;
  for (const std::string& path : paths) {
    std::string sector = sectors.empty() ? "" : " sector " + std::to_string(sectors.at(path));
    result.listing +=
        path + " file" + sector + " size " + std::to_string(fs::file_size(root / path)) + "\n";
    if (path.ends_with(".PSS") || path.ends_with(".CNF")) continue;
    std::string list = run_kelp(root, {kelp_binary(), "--list", path}).out;
    result.listing += indented(list.substr(0, list.rfind('\n', list.size() - 2) + 1));
    fs::path folder = out.path / fs::path(path).parent_path();
    fs::create_directories(folder);
    run_kelp(root, {kelp_binary(), "--png", "-o", folder.string(), path});
  }
  result.unpacked = tree(out.path);
  return result;
}

// The first sector of each file, as isoinfo lists the disc.
std::map<std::string, std::uint32_t> sectors_of(const fs::path& iso) {
  std::map<std::string, std::uint32_t> sectors;
  for (const auto& [path, bytes] : disc_files()) {
    RunResult run =
        run_program("/usr/bin/isoinfo", iso.parent_path(), {"isoinfo", "-i", iso.string(), "-l"});
    std::string name = fs::path(path).filename().string();
    std::size_t at = run.out.find("]  " + name + ";1");
    if (at == std::string::npos) at = run.out.find("]  " + name);
    std::size_t open = run.out.rfind('[', at);
    sectors[path] = static_cast<std::uint32_t>(std::stoul(run.out.substr(open + 1)));
  }
  return sectors;
}

TEST(Disc, ListsAndUnpacksEveryContainerAsIfAlone) {
  TempDir dir;
  fs::path root = make_tree(dir.path / "root");
  struct Maker {
    std::string name;
    std::vector<std::string> args;  // the output image follows
  };
  const std::vector<Maker> makers{
      {"genisoimage",
       {"/usr/bin/genisoimage", "-quiet", "-allow-lowercase", "-relaxed-filenames", "-o"}},
      {"genisoimage -udf", {"/usr/bin/genisoimage", "-quiet", "-udf", "-allow-lowercase", "-o"}},
      {"xorriso", {"/usr/bin/xorriso", "-as", "mkisofs", "-quiet", "-o"}},
  };
  for (const Maker& maker : makers) {
    SCOPED_TRACE(maker.name);
    fs::path iso = dir.path / "game.iso";
    fs::remove(iso);
    std::vector<std::string> args = maker.args;
    args.push_back(iso.string());
    args.push_back(root.string());
    ASSERT_EQ(run_program(args[0], dir.path, args).exit_code, 0);
    Alone want = alone(root, sectors_of(iso));
    RunResult list = run_kelp(dir.path, {kelp_binary(), "--list", "game.iso"});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out.substr(0, list.out.rfind('\n', list.out.size() - 2) + 1), want.listing);
    EXPECT_TRUE(
        list.out.ends_with("\n4 files, 3 textures, 0 packages, 0 archives; unpacking writes "
                           "930 bytes of bitmaps\n"))
        << list.out;
    fs::remove_all(dir.path / "out");
    RunResult unpack = run_kelp(dir.path, {kelp_binary(), "--png", "-o", "out", "game.iso"});
    EXPECT_EQ(unpack.out, banner_text());
    EXPECT_EQ(unpack.exit_code, 0) << unpack.err;
    EXPECT_EQ(tree(dir.path / "out"), want.unpacked);
  }
  // One gallery for the whole disc, its images in the files' folders.
  ASSERT_EQ(
      run_kelp(dir.path, {kelp_binary(), "--png", "--gallery", "-o", "g", "game.iso"}).exit_code,
      0);
  Browsed page = browse(dir.path / "g" / "game.html", R"(
    const images = [...document.querySelectorAll(".tile img")];
    while (images.some((image) => !image.getAttribute("src"))) await new Promise((t) => setTimeout(t, 10));
    await Promise.all(images.map((image) => image.decode().catch(() => 0)));
    return images.map((image) => image.getAttribute("src") + " " + image.naturalWidth);)");
  EXPECT_EQ(page.facts, nlohmann::json({"DATA/MAP_0000.png 8", "DATA/MAP_0002.png 8",
                                        "DATA/SUB/Title_0000.png 8"}));
  RunResult folder = run_kelp(dir.path, {kelp_binary(), "--png", "-o", "from-folder", "root"});
  EXPECT_EQ(folder.exit_code, 0) << folder.err;
  EXPECT_EQ(tree(dir.path / "from-folder"), alone(root, {}).unpacked);
}

// Where the root folder's record of `name` starts in an image: the root folder's extent is named
// by the primary volume descriptor (sector 16) in its root record, at byte 156.
std::size_t record_of(const ByteVec& image, const std::string& name) {
  std::size_t root = 2048 * (image[2048 * 16 + 156 + 2] | image[2048 * 16 + 156 + 3] << 8);
  for (std::size_t at = root; image[at] != 0; at += image[at]) {
    if (std::string(image.begin() + at + 33, image.begin() + at + 33 + image[at + 32]) == name) {
      return at;
    }
  }
  throw std::runtime_error("no record of " + name);
}

ByteVec patched_image(ByteVec image, const std::string& name, std::size_t field, ByteVec bytes) {
  std::copy(bytes.begin(), bytes.end(), image.begin() + record_of(image, name) + field);
  return image;
}

TEST(Disc, PlainRunsRawImagesAndDamagedDiscs) {
  TempDir dir;
  fs::path root = make_tree(dir.path / "root");
  ASSERT_EQ(run_program("/usr/bin/genisoimage", dir.path,
                        {"genisoimage", "-quiet", "-o", "game.iso", "root"})
                .exit_code,
            0);
  ByteVec image = read_file(dir.path / "game.iso");
  ByteVec raw(2352 * 20, 0);
  std::fill(raw.begin() + 1, raw.begin() + 11, 0xFF);
  write_file(dir.path / "raw.iso", raw);
  write_file(dir.path / "cut.iso", ByteVec(image.begin(), image.begin() + 2048 * 30));
  write_file(dir.path / "zeros.iso", ByteVec(2048 * 40, 0));
  std::size_t root_sector = image[2048 * 16 + 156 + 2] | image[2048 * 16 + 156 + 3] << 8;
  auto u8 = [](std::size_t v) { return static_cast<std::uint8_t>(v); };
  // DATA's extent made the root's own: a loop. Its record's name made to run past its sector.
  write_file(dir.path / "loop.iso", patched_image(image, "DATA", 2,
                                                  {u8(root_sector), u8(root_sector >> 8), 0, 0, 0,
                                                   0, u8(root_sector >> 8), u8(root_sector)}));
  write_file(dir.path / "crossing.iso", patched_image(image, "DATA", 32, {255}));
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string err;  // a line standard error must hold
  };
  const std::vector<Case> cases{
      {{"game.iso"},
       0,
       "kelp: game.iso: a disc image is unpacked with -o DIR or listed with --list\n"},
      {{"-o", "out", "raw.iso"},
       1,
       "kelp: raw.iso: is a raw CD image of 2352-byte sectors; kelp reads disc images of 2048-byte "
       "sectors (.iso)\n"},
      {{"-o", "out", "zeros.iso"},
       1,
       "kelp: zeros.iso: holds no ISO 9660 file system of 2048-byte sectors\n"},
      {{"-o", "out", "cut.iso"}, 1, "lies past the end of the image; skipped\n"},
      {{"-o", "out", "loop.iso"}, 1, "kelp: DATA: is a folder already read (a loop); skipped\n"},
      {{"-o", "out", "crossing.iso"}, 1, "kelp: /: is a folder with a damaged record; skipped\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{kelp_binary()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = run_kelp(dir.path, args);
    EXPECT_EQ(run.out, banner_text()) << c.err;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir.path / "out" / "DATA" / "SUB"));  // beyond the cut
}

TEST(Disc, SeveralSourcesAreEachConvertedWithOptionsOnly) {
  TempDir dir;
  fs::path root = make_tree(dir.path / "root");
  fs::copy_file(root / "DATA/MAP.IMG", dir.path / "a.img");
  fs::copy_file(root / "DATA/SUB/Title.dat", dir.path / "b.dat");
  for (const char* one : {"a.img", "b.dat"})
    run_kelp(dir.path, {kelp_binary(), "-o", "alone", one});
  RunResult both = run_kelp(dir.path, {kelp_binary(), "-o", "both", "a.img", "b.dat"});
  EXPECT_EQ(both.out, banner_text());
  EXPECT_EQ(both.exit_code, 0);
  EXPECT_EQ(files_in(dir.path / "both"), files_in(dir.path / "alone"));
  RunResult plain = run_kelp(dir.path / "both", {kelp_binary(), "../a.img", "../b.dat"});
  EXPECT_EQ(plain.err,
            "kelp: only the first source is converted without kelp's options; "
            "ignored: ../b.dat\n");
  EXPECT_EQ(files_in(dir.path / "both").size(), 5u);  // and a.img's two bitmaps again, suffixed
}

// The byte offsets at which two files differ.
std::vector<std::size_t> differences(const ByteVec& a, const ByteVec& b) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (a[i] != b[i]) at.push_back(i);
  }
  return at;
}

TEST(Disc, ImportWritesEachChangedFileBackAtItsSector) {
  TempDir dir;
  fs::path root = make_tree(dir.path / "root");
  auto make = [&](const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> args{"/usr/bin/genisoimage", "-quiet", "-allow-lowercase", "-o", name};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("root");
    ASSERT_EQ(run_program(args[0], dir.path, args).exit_code, 0);
  };
  make("game.iso", {});
  make("udf.iso", {"-udf"});
  ASSERT_EQ(run_kelp(dir.path, {kelp_binary(), "-o", "edit", "game.iso"}).exit_code, 0);
  // A few pixels take another colour: the package keeps its size; the archive, coded anew,
  // changes its size within its last sector.
  for (const char* edited : {"edit/DATA/MAP_0000.bmp", "edit/DATA/SUB/Title_0000.bmp"}) {
    ByteVec pixels = read_file(dir.path / edited);
    std::copy(pixels.begin() + 54, pixels.begin() + 58, pixels.begin() + 62);
    write_file(dir.path / edited, pixels);
  }

  std::map<std::string, ByteVec> rebuilt;  // each file as its import alone makes it
  for (std::string image : {"game.iso", "udf.iso"}) {
    SCOPED_TRACE(image);
    std::map<std::string, std::uint32_t> sectors = sectors_of(dir.path / image);
    RunResult run = run_kelp(dir.path, {kelp_binary(), "--import", "edit", "-o", "new", image});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::vector<std::size_t> outside =
        differences(read_file(dir.path / image), read_file(dir.path / "new" / image));
    for (std::string file : {"DATA/MAP.IMG", "DATA/SUB/Title.dat"}) {
      std::string folder = fs::path(file).parent_path().string();
      fs::remove_all(dir.path / "alone");
      ASSERT_EQ(run_kelp(dir.path, {kelp_binary(), "--import", "edit/" + folder, "-o", "alone",
                                    "root/" + file})
                    .exit_code,
                0);
      ByteVec& alone = rebuilt[file] = read_file(dir.path / "alone" / fs::path(file).filename());
      // isoinfo reads the ISO 9660 side; 7-Zip reads the UDF side where there is one.
      for (std::vector<std::string> reader :
           {std::vector<std::string>{"/usr/bin/isoinfo", "-i", "new/" + image, "-x",
                                     "/" + file + ";1"},
            {"/usr/bin/7zz", "e", "-so", "new/" + image, file}}) {
        EXPECT_EQ(text_bytes(run_program(reader[0], dir.path, reader).out), alone) << reader[0];
      }
      std::size_t first = sectors.at(file),
                  last = first + (fs::file_size(root / file) + 2047) / 2048;
      std::erase_if(outside,
                    [&](std::size_t at) { return at / 2048 >= first && at / 2048 < last; });
    }
    // Outside the files only the archive's size changed: in its record, in both byte orders, and
    // in its UDF file entry.
    std::set<std::size_t> sectors_changed;
    for (std::size_t at : outside) sectors_changed.insert(at / 2048);
    EXPECT_EQ(sectors_changed.size(), image == "udf.iso" ? 2u : 1u);
    EXPECT_EQ(run_program("/usr/bin/7zz", dir.path, {"7zz", "t", "new/" + image}).exit_code, 0);
    // 7-Zip reads the UDF side only when every descriptor's checksum and CRC hold.
    std::string type = image == "udf.iso" ? "Type = Udf" : "Type = Iso";
    EXPECT_NE(run_program("/usr/bin/7zz", dir.path, {"7zz", "l", "new/" + image}).out.find(type),
              std::string::npos);
  }
  // A folder of the disc's files: the rebuilt files, each in its folder. A dry run with the
  // changes page writes the page alone.
  EXPECT_EQ(run_kelp(dir.path, {kelp_binary(), "--import", "edit", "-o", "out", "root"}).exit_code,
            0);
  EXPECT_EQ(tree(dir.path / "out"), rebuilt);
  RunResult page = run_kelp(dir.path, {kelp_binary(), "--import", "edit", "--list", "--gallery",
                                       "-o", "page", "udf.iso"});
  EXPECT_EQ(page.exit_code, 0) << page.err;
  EXPECT_EQ(fs::directory_iterator(dir.path / "page")->path().filename(), "udf-changes.html");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path / "page"), {}), 1);
  // Where copy_file_range is refused (between file systems), sendfile copies; where that is
  // refused too, a buffer.
  for (std::string sendfile_errno : {"0", "22"}) {  // EINVAL
    fs::remove_all(dir.path / "copied");
    RunResult copied =
        run_kelp(dir.path, {kelp_binary(), "--import", "edit", "-o", "copied", "game.iso"},
                 {.environment = {
                      "LD_PRELOAD=" KELP_FAULTS, "ASAN_OPTIONS=verify_asan_link_order=0",
                      "KELP_FAULT_COPY_ERRNO=18", "KELP_FAULT_SENDFILE_ERRNO=" + sendfile_errno}});
    EXPECT_EQ(copied.exit_code, 0) << copied.err;
    EXPECT_EQ(read_file(dir.path / "copied/game.iso"), read_file(dir.path / "new/game.iso"));
  }
  write_file(dir.path / "edit/DATA/MAP_0001.bin", ByteVec(5000, 7));  // grows past its sectors
  // On the UDF side, DATA's file identifier made to point at the root folder: a loop.
  ByteVec udf = read_file(dir.path / "udf.iso");
  std::string_view text(reinterpret_cast<const char*>(udf.data()), udf.size());
  std::size_t data = text.find(
                         "\x08"
                         "DATA") -
                     38,
              parent = data / 2048 * 2048;
  std::copy_n(udf.begin() + parent + 24, 4, udf.begin() + data + 24);
  write_file(dir.path / "udf-loop.iso", udf);
  for (auto [image, err] : std::vector<std::pair<std::string, std::string>>{
           {"udf.iso",
            "kelp: DATA/MAP.IMG: would grow past its sectors by 4096 bytes; a file on "
            "the disc cannot move\n"},
           {"udf-loop.iso",
            "kelp: udf-loop.iso: a folder of its UDF file system is nested too deep or met "
            "twice\n"}}) {
    if (image == "udf-loop.iso") fs::remove(dir.path / "edit/DATA/MAP_0001.bin");
    RunResult refused = run_kelp(dir.path, {kelp_binary(), "--import", "edit", "-o", "no", image});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find(err + "kelp: nothing was written\n"), std::string::npos)
        << refused.err;
  }
  EXPECT_FALSE(fs::exists(dir.path / "no"));
}

}  // namespace
}  // namespace kelp::test
