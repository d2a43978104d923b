#include "gallery/page.h"

#include <zlib.h>

#include <array>
#include <nlohmann/json.hpp>
#include <string_view>

#include "common/diagnostics.h"
#include "common/output.h"
#include "page_html.h"  // page_html: src/gallery/page.html
#include "platform/platform.h"

namespace kelp {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view data_marker = "@KELP_PAGE_DATA@";
constexpr std::string_view base64_digits =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    std::size_t left = bytes.size() - at;
    std::uint32_t group = std::uint32_t{bytes[at]} << 16;
    if (left > 1) group |= std::uint32_t{bytes[at + 1]} << 8;
    if (left > 2) group |= bytes[at + 2];
    for (std::size_t digit = 0; digit < 4; ++digit) {
      text += digit <= left ? base64_digits[group >> (18 - 6 * digit) & 0x3F] : '=';
    }
  }
  return text;
}

// The bytes deflated in the zlib format, which the browser's DecompressionStream reads.
std::vector<std::uint8_t> deflated(std::string_view bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::vector<std::uint8_t> out(size);
  int status = compress2(out.data(), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                         static_cast<uLong>(bytes.size()), Z_BEST_SPEED);
  if (status == Z_MEM_ERROR) throw std::bad_alloc();
  out.resize(status == Z_OK ? size : 0);
  return out;
}

// A file's path below the page as a relative URL: its bytes in UTF-8, every byte but letters,
// digits, "-._~" and the folders' "/" percent-encoded, so that no name can end the URL or be
// read as a scheme.
std::string url_of_file(const std::string& name) {
  constexpr std::string_view hex = "0123456789ABCDEF";
  std::string url;
  for (unsigned char byte : platform::name_in_utf8(name)) {
    bool plain = std::isalnum(byte) != 0 && byte < 0x80;
    if (plain || byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/') {
      url += static_cast<char>(byte);
    } else {
      url += {'%', hex[byte >> 4], hex[byte & 0xF]};
    }
  }
  return url;
}

// Names and messages as the page shows them: in UTF-8 (on Windows from the ANSI code page).
std::string shown(const std::string& text) {
  return platform::name_in_utf8(text);
}

// JSON text, with invalid UTF-8 replaced as the listing replaces it, that can stand inside a
// <script> element: "<", ">" and "&" (only ever inside strings) escaped.
std::string script_json(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string safe;
  safe.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      safe += "\\u003c";
    } else if (c == '>') {
      safe += "\\u003e";
    } else if (c == '&') {
      safe += "\\u0026";
    } else {
      safe += c;
    }
  }
  return safe;
}

std::size_t palette_position(Gallery& gallery, const TextureRecord& texture) {
  // Channel by channel (every red, then every green, ...): a game's palettes share one alpha
  // or run in gradients, which deflate far better so.
  Palette palette = palette_in_index_order(texture);
  std::array<char, palette_entry_size * tx8_palette_entries> planes;
  std::size_t colours = texture.colours(), at = 0;
  for (std::uint8_t Colour::*channel :
       {&Colour::red, &Colour::green, &Colour::blue, &Colour::alpha}) {
    for (std::size_t i = 0; i < colours; ++i) planes[at++] = static_cast<char>(palette[i].*channel);
  }
  std::string_view bytes(planes.data(), at);
  auto known = gallery.palette_at.find(bytes);
  if (known != gallery.palette_at.end()) return known->second;
  gallery.palette_at.emplace(bytes, gallery.palettes.size());
  gallery.palettes += bytes;
  return gallery.palettes.size() - bytes.size();
}

}  // namespace

void add_file_to_gallery(Gallery& gallery, const std::string& path) {
  if (!gallery.entries.empty()) gallery.entries += ',';
  gallery.entries += "{\"name\":" + script_json(shown(path)) + ",\"kind\":\"file\",\"depth\":0}";
}

void add_to_gallery(Gallery& gallery, const Entry& entry, const std::string& file) {
  bool texture = entry.kind == EntryKind::tx4 || entry.kind == EntryKind::tx8;
  bool container = entry.kind == EntryKind::package || entry.kind == EntryKind::archive;
  if (!texture && !container && entry.kind != EntryKind::damaged) return;
  // Written field by field: a page may hold thousands, and every one is made on the walk's thread.
  std::string& to = gallery.entries;
  auto field = [&to](std::string_view key, std::string_view json) {
    to.append(",\"").append(key).append("\":").append(json);
  };
  auto text_field = [&to](std::string_view key, std::string_view text) {
    to.append(",\"").append(key).append("\":\"").append(text).append("\"");
  };
  to += to.empty() ? "{\"name\":" : ",{\"name\":";
  to += script_json(shown(entry.name));
  text_field("kind", kind_name(entry.kind));
  field("depth", std::to_string(entry.depth + gallery.depth));
  if (texture) {
    field("side", std::to_string(entry.texture.side));
    field("colours", std::to_string(entry.texture.colours()));
    if (!file.empty()) {
      text_field("file", url_of_file(file));
      field("palette", std::to_string(palette_position(gallery, entry.texture)));
      if (!on_console_scale(entry.texture)) text_field("alpha", "raw");
    }
  }
  if (entry.kind == EntryKind::damaged) field("reason", script_json(entry.damage));
  to += '}';
}

std::string gallery_data(const Gallery& gallery) {
  std::string palettes = base64(deflated(gallery.palettes));
  std::string data = "{\"title\":" + script_json(shown(gallery.title)) + ",\"palettes\":\"" +
                     palettes + "\",\"entries\":[" + gallery.entries + "]}";
  return data;
}

std::string changes_data(const std::string& title, const std::vector<ChangeRow>& rows) {
  Json data{{"title", shown(title)}, {"rows", Json::array()}};
  for (const ChangeRow& row : rows) {
    Json warnings = Json::array();
    for (const std::string& warning : row.warnings) warnings.push_back(shown(warning));
    Json line{{"entry", shown(row.entry)},
              {"file", shown(row.file)},
              {"result", row.result},
              {"detail", shown(row.detail)},
              {"warnings", std::move(warnings)}};
    if (!row.before.empty()) line["before"] = base64(row.before);
    if (!row.after.empty()) line["after"] = base64(row.after);
    data["rows"].push_back(std::move(line));
  }
  return script_json(data);
}

std::optional<std::string> write_page(const std::string& data, const std::string& name,
                                      const std::string& folder) {
  std::string_view page = page_html;
  std::size_t marker = page.find(data_marker);
  OutputFile out = create_output_or_warn(name, folder);
  if (!out.created) return std::nullopt;
  write_output(out, text_bytes(page.substr(0, marker)));
  write_output(out, text_bytes(data));
  write_output(out, text_bytes(page.substr(marker + data_marker.size())));
  if (!finish_output(out)) return std::nullopt;
  return out.name;
}

}  // namespace kelp
