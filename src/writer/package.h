// Building a ZIP package in memory through libzip, with the fixed entry date
// (1980-01-01 00:00) and regular-file permissions (0644) every entry gets, so
// the same cells always give the same bytes; and the file write that puts
// the finished bytes in place atomically.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "types/result.h"

struct zip;
struct zip_source;

namespace morvane::writer {

class ZipBuilder {
public:
    static Result<ZipBuilder> create();
    ZipBuilder(ZipBuilder&& other) noexcept;
    ZipBuilder& operator=(ZipBuilder&&) = delete;
    ZipBuilder(const ZipBuilder&) = delete;
    ~ZipBuilder();

    // Adds an entry, Deflate at level 6 unless `stored`; the text is kept until finish.
    Result<void> add(std::string_view name, std::string content, bool stored = false);
    // The finished archive's bytes.
    Result<std::string> finish();

private:
    ZipBuilder(struct zip* z, struct zip_source* buffer) : zip_(z), buffer_(buffer) {}
    struct zip* zip_;
    struct zip_source* buffer_;
    std::deque<std::string> contents_;  // libzip reads them at finish
};

// Writes `bytes` to a new file beside the file `path` names (through any
// symbolic links), checks every write and the close, gives it the permission
// bits of the file it replaces, then renames it over that file. The
// operating system's message on failure, its error number in `os_errno`.
Result<void> write_file_atomically(std::string_view path, std::string_view bytes, int* os_errno = nullptr);

}  // namespace morvane::writer
