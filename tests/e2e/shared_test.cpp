// One table for both builds: each case runs the native kelp and kelp.exe under Wine on the same
// files and compares their standard output (CR LF read as LF), exit codes and every file
// written, byte for byte. Where Windows differs by design, the case names the native command
// whose results kelp.exe must give instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "builders.h"
#include "files.h"
#include "image_builders.h"
#include "wine.h"

namespace kelp::test {
namespace {

struct Case {
  Case(std::string windows, std::string native = "", std::string held = "",
       bool code_page_932 = false, bool fold_case = false)
      : windows(std::move(windows)),
        native(std::move(native)),
        held(std::move(held)),
        code_page_932(code_page_932),
        fold_case(fold_case) {}
  std::string windows;  // command lines as typed at cmd.exe, joined by " && "
  std::string native;   // the native equivalent; empty: the same commands
  std::string held;     // held open by another process during the Windows run
  bool code_page_932;
  bool fold_case;  // file names compared as Windows compares them
};

constexpr std::string_view next_command = " && ";
constexpr std::string_view dir_marker = "{dir}";

Picture picture(unsigned seed) {
  return make_picture(8, varied_palette(seed % 2 ? 16 : 256, seed),
                      [=](unsigned x, unsigned y) { return (x * 3 + y + seed) % 16; });
}

// The inputs every case starts from.
void write_inputs(const fs::path& dir) {
  ByteVec img = package({tx4_record(picture(1)), mot_record(), tx8_record(picture(2)),
                         archive({tx4_record(picture(3)), text_bytes("other")})});
  write_file(dir / "scene.img", img);
  write_file(dir / "表.img", img);  // in Shift-JIS its trail byte is "\"
  write_file(dir / "ポ.img", img);  // and here "|"
  fs::create_directory(dir / "表");
  write_file(dir / "title.dat", archive({tx8_record(picture(4)), mot_record()}));
  write_file(dir / "base.bmp", bitmap_file(varied_image(6, 5, 1)));
  write_file(dir / "over.bmp", bitmap_file(varied_image(3, 4, 2)));
  write_file(dir / "my over.bmp", bitmap_file(varied_image(7, 2, 3)));
  write_file(dir / "notes.txt", text_bytes("notes"));
  std::vector<Rgba> gradient;  // 64 colours for a TX4 texture: quantized
  for (unsigned i = 0; i < 64; ++i) {
    auto v = static_cast<std::uint8_t>(i * 4);
    gradient.push_back({v, static_cast<std::uint8_t>(255 - v), static_cast<std::uint8_t>(i * 3),
                        static_cast<std::uint8_t>(i % 8 ? 255 : 0)});
  }
  fs::create_directory(dir / "edits");
  write_file(dir / "edits" / "scene_0000.png", rgba_png(8, gradient));
  fs::create_directories(dir / "disc" / "DATA");  // a disc's files, extracted
  write_file(dir / "disc" / "DATA" / "MAP.IMG", img);
  write_file(dir / "disc" / "TITLE.DAT", archive({tx8_record(picture(4))}));
  // Made once, so that its dates are the same in every run.
  static const ByteVec image = [&] {
    TempDir made;
    run_program("/usr/bin/genisoimage", dir,
                {"genisoimage", "-quiet", "-o", (made.path / "game.iso").string(), "disc"});
    return read_file(made.path / "game.iso");
  }();
  write_file(dir / "game.iso", image);
  write_file(dir / "表.iso", image);
  fs::create_directories(dir / "discedits" / "DATA");
  fs::copy_file(dir / "edits" / "scene_0000.png", dir / "discedits" / "DATA" / "MAP_0000.png");
}

std::vector<std::string> split(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  for (std::size_t at = 0;;) {
    std::size_t end = text.find(separator, at);
    parts.emplace_back(text.substr(at, end - at));
    if (end == std::string_view::npos) return parts;
    at = end + separator.size();
  }
}

std::string with_dir(std::string command, const fs::path& dir) {
  std::size_t at = command.find(dir_marker);
  if (at != std::string::npos) command.replace(at, dir_marker.size(), dir.string());
  return command;
}

// Every file under `dir`, by its path below it.
std::map<std::string, ByteVec> tree(const fs::path& dir, bool fold_case) {
  std::map<std::string, ByteVec> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string name = fs::relative(entry.path(), dir).generic_string();
    if (fold_case)
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    files[name] = read_file(entry.path());
  }
  return files;
}

struct Outcome {
  std::vector<std::pair<int, std::string>> runs;  // exit code and standard output of each
  std::map<std::string, ByteVec> files;
};

Outcome run_native(const std::string& commands, bool fold_case) {
  TempDir dir;
  write_inputs(dir.path);
  Outcome outcome;
  for (const std::string& command : split(commands, next_command)) {
    std::vector<std::string> args = split(with_dir(command, dir.path), " ");
    args[0] = kelp_binary();
    RunResult run = run_kelp(dir.path, args);
    outcome.runs.emplace_back(run.exit_code, run.out);
  }
  outcome.files = tree(dir.path, fold_case);
  return outcome;
}

Outcome run_wine(const Case& c) {
  TempDir dir;
  write_inputs(dir.path);
  Outcome outcome;
  for (const std::string& command : split(c.windows, next_command)) {
    RunResult run = run_windows(dir.path, {with_dir(command, dir.path), c.held, c.code_page_932});
    std::string out = run.out;
    for (std::size_t at; (at = out.find("\r\n")) != std::string::npos;) out.erase(at, 1);
    EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1 || run.exit_code == 2 ||
                run.exit_code == 255)
        << command << " ended with " << run.exit_code << ": " << run.err;
    outcome.runs.emplace_back(run.exit_code, out);
  }
  outcome.files = tree(dir.path, c.fold_case);
  return outcome;
}

TEST(BothBuilds, GiveTheSameOutputExitCodesAndFiles) {
  if (!windows_build_given()) GTEST_SKIP() << "no kelp.exe named for this build";
  const std::vector<Case> cases{
      {"kelp"},
      {"kelp scene.img"},
      {"kelp title.dat -o out"},
      {"kelp scene.img --png --raw -o png"},
      {"kelp scene.img --list"},
      {"kelp title.dat --json"},
      {"kelp scene.img && kelp scene.img"},
      {"kelp missing.img"},
      {"kelp notes.txt"},
      {"kelp --lsit scene.img"},
      {"kelp scene.img --png -o edit && kelp scene.img --import edit -o rebuilt"},
      {"kelp scene.img --import edits -o rebuilt"},
      {"kelp scene.img --import edits --dither -o rebuilt"},
      {"kelp scene.img --png --gallery -o png"},
      {"kelp scene.img --import edits --gallery --list -o look"},
      {"kelp 表.img --png --gallery -o out", "", "", true},
      {"kelp --png --gallery -o out disc && kelp --list disc"},
      {"kelp --list game.iso && kelp -o out game.iso && kelp --import discedits -o new game.iso && "
       "kelp --import discedits -o new disc"},
      {"kelp base.bmp /x1 /y2 /bover.bmp"},
      {"kelp base.bmp /bmy over.bmp /y0"},
      {"kelp /bover.bmp base.bmp"},
      {"kelp base.bmp /x-3 /bover.bmp"},
      {"kelp base.bmp /bbase.bmp"},
      {"kelp base.bmp /bover.bmp /x8 /y4"},
      {"kelp -o out base.bmp /bover.bmp"},
      {"kelp base.bmp /bover.bmp -o out"},
      {"kelp 表.img", "", "", true},
      {"kelp --list 表.iso", "", "", true},
      {"kelp ポ.img -o out", "", "", true},
      {"kelp 表.img -o 表\\new", "kelp 表.img -o 表/new", "", true},
      {"kelp title.dat -o out\\", "kelp title.dat -o out/"},
      // Windows: a "/" argument is always an option, so the invocation becomes the source.
      {"kelp /x5", "kelp missing.img"},
      {"kelp {dir}/scene.img", "kelp missing.img"},
      // Windows: the overlay options are searched in the invocation too.
      {"tools/y2/kelp base.bmp /bover.bmp", "kelp base.bmp /y2 /bover.bmp"},
      // Windows: a file held by another process cannot be opened.
      {"kelp base.bmp /bover.bmp", "kelp missing.bmp", "base.bmp"},
      {"kelp base.bmp /bover.bmp", "kelp base.bmp /bmissing.bmp", "over.bmp"},
      // Windows: names compare without case, so SCENE_0000.bmp takes scene_0000.bmp's place.
      {"kelp SCENE.img && kelp scene.img", "kelp scene.img && kelp scene.img", "", false, true},
      // Windows: a trailing dot is dropped from the name opened, and "." is no extension kelp
      // knows.
      {"kelp scene.img.", "kelp notes.txt"},
  };
  for (const Case& c : cases) {
    Outcome windows = run_wine(c);
    Outcome native = run_native(c.native.empty() ? c.windows : c.native, c.fold_case);
    EXPECT_EQ(windows.runs, native.runs) << c.windows;
    EXPECT_EQ(windows.files.size(), native.files.size()) << c.windows;
    for (const auto& [name, bytes] : native.files) {
      EXPECT_TRUE(windows.files.count(name) && windows.files[name] == bytes)
          << c.windows << ": " << name;
    }
  }
}

}  // namespace
}  // namespace kelp::test
