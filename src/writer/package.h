// Building a ZIP package in memory: each entry deflated in one call by
// libdeflate (or stored), with the fixed entry date (1980-01-01 00:00) and
// regular-file permissions (0644) every entry gets, so the same cells always
// give the same bytes; and the file write that puts the finished bytes in
// place atomically. The archive is the plain format every reader takes:
// local headers, data, central directory, no data descriptors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "types/result.h"

struct libdeflate_compressor;

namespace morvane::writer {

class ZipBuilder {
public:
    static Result<ZipBuilder> create();
    ZipBuilder(ZipBuilder&& other) noexcept;
    ZipBuilder& operator=(ZipBuilder&&) = delete;
    ZipBuilder(const ZipBuilder&) = delete;
    ~ZipBuilder();

    // Adds an entry, deflated unless `stored`. An entry of 4 GiB or more,
    // which the plain format cannot describe, fails.
    Result<void> add(std::string_view name, std::string_view content, bool stored = false);
    // The finished archive's bytes.
    Result<std::string> finish();

private:
    struct Entry {
        std::string name;
        uint32_t crc;
        uint32_t packed_size;
        uint32_t size;
        uint32_t offset;
        uint16_t method;
    };
    explicit ZipBuilder(libdeflate_compressor* c) : compressor_(c) {}
    libdeflate_compressor* compressor_;
    std::string out_;
    std::vector<Entry> entries_;
};

// Writes `bytes` to a new file beside the file `path` names (through any
// symbolic links), checks every write and the close, gives it the permission
// bits of the file it replaces, then renames it over that file. Only a
// regular file is replaced: anything else at the path is refused untouched.
// The operating system's message on failure, its error number in `os_errno`.
Result<void> write_file_atomically(std::string_view path, std::string_view bytes, int* os_errno = nullptr);

}  // namespace morvane::writer
