// Read access to a ZIP package through libzip: open an archive file, find an
// entry by name (without regard to ASCII case, '\' read as '/', as package
// readers do) and read it as UTF-8 text. Every read is charged to a budget
// and held to a ratio of its compressed size, so that no file can make the
// reader decompress without bound. Deflate entries are inflated in one call
// by libdeflate when their sizes are told truthfully, else by libzip.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "types/result.h"

struct zip;

namespace morvane::reader {

// Decompressed bytes still allowed for the rest of the package.
struct ByteBudget {
    uint64_t left;
};

class ZipArchive {
public:
    // Opens the file at `path`; the operating system's or libzip's message on
    // failure, the error number in `os_errno` when the system refused.
    static Result<ZipArchive> open(const std::string& path, int* os_errno = nullptr);

    ZipArchive(ZipArchive&& other) noexcept;
    ZipArchive& operator=(ZipArchive&&) = delete;
    ZipArchive(const ZipArchive&) = delete;
    ~ZipArchive();

    bool contains(std::string_view name) const { return locate(name).has_value(); }
    // The entry's index, its name compared as package part names are.
    std::optional<uint64_t> locate(std::string_view name) const;
    // Size of the archive file in bytes.
    uint64_t file_size() const { return file_size_; }

private:
    ZipArchive(struct zip* z, uint64_t file_size);
    friend Result<std::string> zip_read_text(ZipArchive& archive, std::string_view name, ByteBudget& budget);
    struct zip* zip_;
    uint64_t file_size_;
    std::unordered_map<std::string, uint64_t> names_;  // normalised name -> first entry of that name
};

// A part name as compared: ASCII lower case, '\' as '/', no leading '/'.
std::string normalise_part_name(std::string_view name);

// The entry named `name` as text. A missing entry fails with
// "{name}: specified file not found in archive"; a part past the 4 GiB or
// ratio bounds, past the budget, corrupt or not UTF-8 fails with its own message.
Result<std::string> zip_read_text(ZipArchive& archive, std::string_view name, ByteBudget& budget);

// True when `s` is well-formed UTF-8.
bool valid_utf8(std::string_view s);

}  // namespace morvane::reader
