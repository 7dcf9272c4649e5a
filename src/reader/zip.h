// Read access to a ZIP package through libzip: open an archive file, find an
// entry by name (without regard to ASCII case, '\' read as '/', as package
// readers do) and read it as UTF-8 text. Every read is charged to a budget
// and held to a ratio of its compressed size, so that no file can make the
// reader decompress without bound. Deflate entries are inflated in one call
// by libdeflate when their sizes are told truthfully, else by libzip.
#pragma once

#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "types/result.h"

struct zip;

namespace morvane::reader {

// Decompressed bytes still allowed for the rest of the package.
struct ByteBudget {
    uint64_t left;
};

// A part's text as read. A large part lives in memory of its own, whose
// pages a walk hands back as it passes them, so that a sheet's text and the
// cells made from it are never held whole at the same time.
class PartText {
public:
    PartText() = default;
    explicit PartText(std::string text) : text_(std::move(text)) {}
    PartText(PartText&& other) noexcept;
    PartText& operator=(PartText&& other) noexcept;
    PartText(const PartText&) = delete;
    ~PartText();

    // Memory of its own for `n` bytes, to be filled through data().
    static PartText mapped(size_t n);
    char* data() { return mapped_; }
    std::string_view view() const { return mapped_ ? std::string_view(mapped_, size_) : std::string_view(text_); }
    // The text as a string (moved out when it is one).
    std::string take();
    // Hands back the whole pages before `upto`, a position in view() that
    // the reader has passed and never reads again.
    void release_before(const char* upto);

private:
    void unmap();
    std::string text_;
    char* mapped_ = nullptr;
    size_t size_ = 0;
    size_t released_ = 0;
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
    friend Result<PartText> zip_read_part(ZipArchive& archive, std::string_view name, ByteBudget& budget);
    struct zip* zip_;
    uint64_t file_size_;
    std::unordered_map<std::string, uint64_t> names_;  // normalised name -> first entry of that name
};

// A part name as compared: ASCII lower case, '\' as '/', no leading '/'.
std::string normalise_part_name(std::string_view name);

// The entry named `name` as text. A missing entry fails with
// "{name}: specified file not found in archive"; a part past the 4 GiB or
// ratio bounds, past the budget, corrupt or not UTF-8 fails with its own message.
Result<PartText> zip_read_part(ZipArchive& archive, std::string_view name, ByteBudget& budget);
// The same as a string, for the small parts.
Result<std::string> zip_read_text(ZipArchive& archive, std::string_view name, ByteBudget& budget);

// True when `s` is well-formed UTF-8.
bool valid_utf8(std::string_view s);

}  // namespace morvane::reader
