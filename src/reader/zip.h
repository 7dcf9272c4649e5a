// Read access to a ZIP package through libzip: open an archive file, find an
// entry by its exact name and read it as UTF-8 text. Every read is charged to
// a budget so that no file can make the reader decompress without bound.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "types/result.h"

struct zip;

namespace morvane::reader {

// Decompressed bytes still allowed for the rest of the package.
struct ByteBudget {
    uint64_t left;
};

class ZipArchive {
public:
    // Opens the file at `path`; the operating system's or libzip's message on failure.
    static Result<ZipArchive> open(const std::string& path);

    ZipArchive(ZipArchive&& other) noexcept;
    ZipArchive& operator=(ZipArchive&&) = delete;
    ZipArchive(const ZipArchive&) = delete;
    ~ZipArchive();

    bool contains(std::string_view name) const;

private:
    explicit ZipArchive(struct zip* z) : zip_(z) {}
    friend Result<std::string> zip_read_text(ZipArchive& archive, std::string_view name, ByteBudget& budget);
    struct zip* zip_;
};

// The entry named exactly `name` as text. A missing entry fails with
// "{name}: specified file not found in archive"; a part larger than the cap,
// past the budget, corrupt or not UTF-8 fails with its own message.
Result<std::string> zip_read_text(ZipArchive& archive, std::string_view name, ByteBudget& budget);

// The operating system's description of `err`, then " (os error N)".
std::string os_error_text(int err);

// True when `s` is well-formed UTF-8.
bool valid_utf8(std::string_view s);

}  // namespace morvane::reader
