// The texts of --help and --version.
#pragma once

#include <string_view>

namespace kelp {

constexpr std::string_view help_text =
    R"(Usage: kelp [OPTION ...] SOURCE [/x N] [/y N] [/bOVERLAY]

Unpacks the game's .img packages and .dat LZSS archives, nested to any depth, and
writes every TX4/TX8 texture as a 32-bit BMP named after its place in the file
(entry 2 of scene.img is scene_0002.bmp). Given a .bmp, lays the overlay named
with /b over it at /x, /y and writes <base>-<overlay>.bmp. kelp never overwrites
a file: a taken name gets _0001, _0002, ... before its extension.

With any option, SOURCE may also be a disc image (.iso) or a folder of the
disc's files: each .img and .dat file in it is converted as if it were the
source, into the output folder's folder of the same path.

Options:
  -o, --output DIR  write every output file into DIR (created if missing; its
                    parent must exist) instead of the current folder
  -l, --list        print what the source holds, one line per entry; write nothing
      --json        with --list: one JSON object per line
      --raw         also write each MOT record and unrecognised entry as
                    <entry name>.bin
      --png         write textures as indexed PNGs (their own palette and
                    indices, alpha scaled to 0..255) instead of BMPs
      --import DIR  rebuild SOURCE (.img, .dat, .iso or a folder) with the
                    edited images and .bin files of DIR, named as kelp names
                    its outputs (in any case), and write it as a new file;
                    SOURCE is never changed.
                    The texture decides how alpha is read; an image without
                    alpha keeps the texture's. With --list or --json: a dry
                    run that writes nothing and says what happens to each file
      --dither      with --import: dither textures that must be quantized
      --gallery     with --png: also write <source>.html, a page that shows
                    every texture in its container tree (open it in any
                    browser). With --import: also write <source>-changes.html,
                    each file read before and after; with --list it is the
                    only file written
  -j, --jobs N      convert and write files on N worker threads, 1 to 64
                    (default: one per core, at most 8); files, names and
                    messages are the same for every N
  -h, --help        print this text
  -V, --version     print the version and the licence
  --                end of options: every later argument is a file

Overlay options (.bmp sources), read from the command line as one text:
  /xN               the overlay's column in the composed image (default 0)
  /yN               its row, counted from the bottom (default 0)
  /bPATH            the overlay bitmap; the path runs to the last space after it

Exit codes:
  0    everything found was written (or listed)
  1    something could not be written or read whole, a limit stopped the
       walk of a damaged or hostile file, or an import was refused (nothing
       written); each is named on standard error
  2    usage error: nothing was read or written
  255  an error line was printed on standard output

Examples:
  kelp scene.img                      unpack into the current folder
  kelp -o textures scene.img          unpack into textures/
  kelp --list scene.img               show the container tree
  kelp --json title.dat               the same as JSON Lines
  kelp --raw -o all scene.img         textures, and every other entry as .bin
  kelp --png -o edit scene.img        textures as PNGs, to edit
  kelp --png --gallery -o see scene.img  the PNGs and see/scene.html
  kelp --import edit --list scene.img show what the import would do
  kelp --import edit -o new scene.img write new/scene.img with the edits
  kelp --import edit --list --gallery -o look scene.img
                                      only look/scene-changes.html
  kelp --list GAME.iso                every file of the disc and its tree
  kelp --png -o out GAME.iso          out/DATA/MAP_0000.png, ...
  kelp base.bmp /x8 /y4 /bover.bmp    compose over.bmp over base.bmp
)";

}  // namespace kelp
