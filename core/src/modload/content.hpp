#pragma once
// The content index: every file the server offers to clients, in memory, keyed by content hash,
// and the three content hashes. All are BLAKE3 in plain hash mode over byte strings joined with
// no lengths and no separators:
//   file hash     "ostrel:content:v1" || file bytes
//   mod hash      "ostrel:mod-content:v1" || mod id || for each indexed file, in path order
//                 (component by component, so "a/z.png" before "a.b/c.png"):
//                 path text with "/" separators || its 32-byte file hash
//   mod-set hash  "ostrel:mod-set:v1" || for each offered mod in list order:
//                 id || version text ("1.2.0") || its 32-byte mod hash
// Built once at start-up, read-only afterwards: connection tasks share it without a lock.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/blake3.hpp"
#include "base/error.hpp"

namespace ostrel_core::content {

using ContentHash = blake3::Digest;

inline constexpr std::uint64_t kMaxFileBytes = 16'777'216;   // 16 MiB, exactly this is allowed
inline constexpr std::uint64_t kMaxModBytes = 134'217'728;   // 128 MiB of one mod's files

// One distinct offered content; the first file with these bytes supplies path and mod.
struct ContentItem {
  std::string path;    // relative to the mod directory, "/" separators
  std::string mod_id;  // the mod that first supplied these bytes
  std::vector<std::uint8_t> bytes;
  ContentHash hash{};
};

enum class ContentErrorKind : std::uint8_t {
  Read,          // listing a directory, reading an entry's type or a file failed
  FileTooLarge,  // one file over kMaxFileBytes
  ModTooLarge,   // the mod's files together over kMaxModBytes
};

class ContentError {
 public:
  ContentErrorKind kind;
  std::filesystem::path path;  // Read, FileTooLarge: the full path
  std::string mod_id;          // ModTooLarge
  std::uint64_t bytes = 0;     // FileTooLarge: the file's size; ModTooLarge: the running total
  SourcePtr cause;             // Read: the operating system error

  static ContentError read(std::filesystem::path path, IoError io);
  static ContentError file_too_large(std::filesystem::path path, std::uint64_t bytes);
  static ContentError mod_too_large(std::string mod_id, std::uint64_t total);

  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
};

// Whether a file is sent to clients, by its name alone: the extension (after the last ".",
// not a leading one, ASCII case ignored) is png, jpg, jpeg, ogg, wav, glb, gltf, ttf, otf, ttc,
// json or toml.
bool is_distributable(const std::filesystem::path& path);

// Appends the distributable regular files under `dir`, recursively, as paths relative to
// `root`. Symbolic links are never followed.
[[nodiscard]] std::expected<void, ContentError> collect(const std::filesystem::path& root,
                                                        const std::filesystem::path& dir,
                                                        std::vector<std::filesystem::path>& out);

ContentHash hash_bytes(std::span<const std::uint8_t> bytes);

// One entry of the mod list offered to clients.
struct OfferedMod {
  std::string id;
  std::string version;  // the parsed version in its usual printed form
  ContentHash mod_hash{};
};
ContentHash mod_set_hash(std::span<const OfferedMod> mods);

class ContentIndex {
 public:
  ContentIndex() = default;
  // Holds every offered byte; never copied by accident.
  ContentIndex(const ContentIndex&) = delete;
  ContentIndex& operator=(const ContentIndex&) = delete;
  ContentIndex(ContentIndex&&) = default;
  ContentIndex& operator=(ContentIndex&&) = default;

  // Indexes the distributable files of `mod_dir` plus `extra` (paths relative to it, "\" read as
  // "/"; ones that do not resolve to a regular file inside the directory are skipped) and
  // returns the mod hash. On failure the mod gets no hash entry; files added before it stay.
  [[nodiscard]] std::expected<ContentHash, ContentError> add_mod_with(
      std::string_view mod_id, const std::filesystem::path& mod_dir,
      std::span<const std::string> extra);

  // Exact match on mod id and path text; "\" in `path` counts as "/".
  std::optional<ContentHash> hash_of(std::string_view mod_id, std::string_view path) const;
  // The item with this content, or null. Valid as long as the index.
  const ContentItem* find(const ContentHash& hash) const;
  // The sum of the sizes of the distinct contents.
  std::uint64_t total_bytes() const { return total_bytes_; }
  bool has_files() const { return !files_.empty(); }

  // (mod id, mod hash) per successful add_mod_with, in call order.
  const std::vector<std::pair<std::string, ContentHash>>& mods() const { return mods_; }
  const std::map<ContentHash, ContentItem>& files() const { return files_; }

 private:
  std::vector<std::pair<std::string, ContentHash>> mods_;
  std::map<ContentHash, ContentItem> files_;
  std::map<std::pair<std::string, std::string>, ContentHash> paths_;  // (mod id, path text)
  std::uint64_t total_bytes_ = 0;  // sum of the sizes in files_
};

}  // namespace ostrel_core::content
