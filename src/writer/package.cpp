#include "writer/package.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>
#include <utility>

#include "types/os_error.h"

namespace morvane::writer {

namespace {

// Level 6 of libdeflate packs as tightly as zlib's 6 at several times its speed.
constexpr int kDeflateLevel = 6;
constexpr uint16_t kDosDate = 0x0021;  // 1980-01-01
constexpr uint16_t kDosTime = 0;       // 00:00:00
constexpr uint32_t kRegularFile0644 = 0100644u << 16;
constexpr uint16_t kMadeByUnix = (3 << 8) | 20;  // the external attributes are Unix modes
constexpr uint16_t kNeeded = 20;                 // Deflate
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr uint64_t kMaxZipField = 0xFFFFFFFFu;
constexpr int kTempAttempts = 100;
constexpr int kMaxLinkHops = 40;  // as the kernel follows them

constexpr std::string_view kTooLarge = "cannot save: the part {} would be 4 GiB or more";
constexpr std::string_view kNotRegular = "cannot save over '{}': it is not a regular file";

void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void put32(std::string& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
    put16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace

Result<ZipBuilder> ZipBuilder::create() {
    libdeflate_compressor* c = libdeflate_alloc_compressor(kDeflateLevel);
    if (!c) throw std::bad_alloc();
    return ZipBuilder(c);
}

ZipBuilder::ZipBuilder(ZipBuilder&& other) noexcept
    : compressor_(std::exchange(other.compressor_, nullptr)),
      out_(std::move(other.out_)),
      entries_(std::move(other.entries_)) {}

ZipBuilder::~ZipBuilder() {
    if (compressor_) libdeflate_free_compressor(compressor_);
}

Result<void> ZipBuilder::add(std::string_view name, std::string_view content, bool stored) {
    if (content.size() >= kMaxZipField || out_.size() >= kMaxZipField) return fail(format_message(kTooLarge, name));
    Entry entry{std::string(name),
                static_cast<uint32_t>(libdeflate_crc32(0, content.data(), content.size())),
                0,
                static_cast<uint32_t>(content.size()),
                static_cast<uint32_t>(out_.size()),
                stored ? kStored : kDeflated};
    // Local header; its sizes are filled in once the data is written.
    put32(out_, 0x04034b50);
    put16(out_, kNeeded);
    put16(out_, 0);  // flags
    put16(out_, entry.method);
    put16(out_, kDosTime);
    put16(out_, kDosDate);
    put32(out_, entry.crc);
    const size_t sizes_at = out_.size();
    put32(out_, 0);
    put32(out_, entry.size);
    put16(out_, static_cast<uint16_t>(name.size()));
    put16(out_, 0);  // extra field
    out_ += name;
    const size_t data_at = out_.size();
    if (stored) {
        out_ += content;
    } else {
        size_t bound = libdeflate_deflate_compress_bound(compressor_, content.size());
        size_t packed = 0;
        out_.resize_and_overwrite(data_at + bound, [&](char* buf, size_t) {
            packed = libdeflate_deflate_compress(compressor_, content.data(), content.size(), buf + data_at, bound);
            return data_at + packed;
        });
        if (packed == 0 && !content.empty()) return fail(format_message(kTooLarge, name));
    }
    const uint64_t packed_size = out_.size() - data_at;
    if (packed_size >= kMaxZipField) return fail(format_message(kTooLarge, name));
    entry.packed_size = static_cast<uint32_t>(packed_size);
    for (int i = 0; i < 4; ++i) out_[sizes_at + i] = static_cast<char>((entry.packed_size >> (8 * i)) & 0xFF);
    entries_.push_back(std::move(entry));
    return {};
}

Result<std::string> ZipBuilder::finish() {
    const uint64_t directory_at = out_.size();
    for (const Entry& e : entries_) {
        put32(out_, 0x02014b50);
        put16(out_, kMadeByUnix);
        put16(out_, kNeeded);
        put16(out_, 0);  // flags
        put16(out_, e.method);
        put16(out_, kDosTime);
        put16(out_, kDosDate);
        put32(out_, e.crc);
        put32(out_, e.packed_size);
        put32(out_, e.size);
        put16(out_, static_cast<uint16_t>(e.name.size()));
        put16(out_, 0);  // extra field
        put16(out_, 0);  // comment
        put16(out_, 0);  // disk
        put16(out_, 0);  // internal attributes
        put32(out_, kRegularFile0644);
        put32(out_, e.offset);
        out_ += e.name;
    }
    const uint64_t directory_size = out_.size() - directory_at;
    if (out_.size() >= kMaxZipField || entries_.size() >= 0xFFFF) return fail(format_message(kTooLarge, "directory"));
    put32(out_, 0x06054b50);
    put16(out_, 0);
    put16(out_, 0);
    put16(out_, static_cast<uint16_t>(entries_.size()));
    put16(out_, static_cast<uint16_t>(entries_.size()));
    put32(out_, static_cast<uint32_t>(directory_size));
    put32(out_, static_cast<uint32_t>(directory_at));
    put16(out_, 0);  // comment
    entries_.clear();
    return std::move(out_);
}

namespace {

// The file a path names: symbolic links followed (a link to a file not yet
// there names that file), so the rename replaces the file and not the link.
Result<std::string> link_target(const std::string& path, int& err) {
    std::string current = path;
    for (int hops = 0; hops < kMaxLinkHops; ++hops) {
        struct stat info;
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string target(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
        ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) {
            err = errno;
            return fail(os_error_text(err));
        }
        target.resize(static_cast<size_t>(n));
        if (!target.starts_with('/')) {
            size_t slash = current.rfind('/');
            if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
        }
        current = std::move(target);
    }
    err = ELOOP;
    return fail(os_error_text(err));
}

}  // namespace

Result<void> write_file_atomically(std::string_view path, std::string_view bytes, int* os_errno) {
    static std::atomic<uint32_t> counter{0};
    int err = 0;
    auto os_failure = [&](int e) {
        if (os_errno) *os_errno = e;
        return fail(os_error_text(e));
    };
    Result<std::string> resolved = link_target(std::string(path), err);
    if (!resolved) return os_failure(err);
    const std::string& target = *resolved;
    // An existing file keeps its permission bits; a new one gets 0666 less the umask.
    struct stat existing;
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) return os_failure(EISDIR);
    // The rename would put a regular file in place of a device, a FIFO or a socket.
    if (replacing && !S_ISREG(existing.st_mode)) return fail(format_message(kNotRegular, target));
    std::string temp;
    int fd = -1;
    // A fresh name beside the target, so the final rename stays on one file system.
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt + 1 == kTempAttempts)) return os_failure(errno);
    }
    auto abandon = [&](int e) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        return os_failure(e);
    };
    if (replacing && ::fchmod(fd, existing.st_mode & 07777) != 0) return abandon(errno);
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return abandon(errno);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    int rc = ::close(std::exchange(fd, -1));
    if (rc != 0) return abandon(errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) return abandon(errno);
    return {};
}

}  // namespace morvane::writer
