#pragma once
// The unit's recording store: a real folder tree <root>/NORVIKA/AUDIOREC/...
// on disk. Removal requests name files the unit's way ("0:/NORVIKA/...");
// they are mapped onto the tree one name at a time, without regard to case,
// and never leave it. Safe to call from several sessions at once.
#include <filesystem>
#include <mutex>
#include <string_view>

namespace pabxsim {

// Result words of a removal, as the unit answers them.
inline constexpr int kRemoved = 1;   // file (or empty folder) deleted
inline constexpr int kNotFound = 2;  // no such file, or a folder still holding files
inline constexpr int kRefused = 4;   // the path is not one the unit accepts

class RecordingStore final {
  public:
    explicit RecordingStore(std::filesystem::path root) : root_(std::move(root)) {}

    // `unitPath` as the request carries it (Latin-1, up to its NUL). Only names
    // below NORVIKA/AUDIOREC may go; ".", "..", backslashes, drive marks, control
    // characters, empty names and symbolic links are refused.
    int Remove(std::string_view unitPath);

    const std::filesystem::path& root() const { return root_; }

  private:
    std::filesystem::path root_;
    std::mutex mutex_;  // one removal at a time, so a folder check and its removal do not race
};

}  // namespace pabxsim
