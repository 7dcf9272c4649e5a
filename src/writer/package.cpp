#include "writer/package.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "types/os_error.h"

namespace morvane::writer {

namespace {

constexpr int kDeflateLevel = 6;
constexpr zip_uint16_t kDosDate = 0x0021;  // 1980-01-01
constexpr zip_uint16_t kDosTime = 0;       // 00:00:00
constexpr zip_uint32_t kRegularFile0644 = 0100644u << 16;
constexpr int kTempAttempts = 100;
constexpr int kMaxLinkHops = 40;  // as the kernel follows them

std::string zip_error_text(zip_error_t* error) {
    std::string text = zip_error_strerror(error);
    zip_error_fini(error);
    return text;
}

}  // namespace

Result<ZipBuilder> ZipBuilder::create() {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!buffer) return fail(zip_error_text(&error));
    zip_t* z = zip_open_from_source(buffer, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z) {
        zip_source_free(buffer);
        return fail(zip_error_text(&error));
    }
    zip_error_fini(&error);
    zip_source_keep(buffer);  // ours to read after the archive is closed
    return ZipBuilder(z, buffer);
}

ZipBuilder::ZipBuilder(ZipBuilder&& other) noexcept
    : zip_(std::exchange(other.zip_, nullptr)),
      buffer_(std::exchange(other.buffer_, nullptr)),
      contents_(std::move(other.contents_)) {}

ZipBuilder::~ZipBuilder() {
    if (zip_) zip_discard(zip_);
    if (buffer_) zip_source_free(buffer_);
}

Result<void> ZipBuilder::add(std::string_view name, std::string content, bool stored) {
    const std::string& data = contents_.emplace_back(std::move(content));
    zip_source_t* source = zip_source_buffer(zip_, data.data(), data.size(), 0);
    if (!source) return fail(zip_strerror(zip_));
    zip_int64_t index = zip_file_add(zip_, std::string(name).c_str(), source, 0);
    if (index < 0) {
        zip_source_free(source);
        return fail(zip_strerror(zip_));
    }
    auto i = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(zip_, i, stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, stored ? 0 : kDeflateLevel) != 0 ||
        zip_file_set_dostime(zip_, i, kDosTime, kDosDate, 0) != 0 ||
        zip_file_set_external_attributes(zip_, i, 0, ZIP_OPSYS_UNIX, kRegularFile0644) != 0)
        return fail(zip_strerror(zip_));
    return {};
}

Result<std::string> ZipBuilder::finish() {
    if (zip_close(zip_) != 0) return fail(zip_strerror(zip_));  // the destructor discards it
    zip_ = nullptr;
    contents_.clear();
    if (zip_source_open(buffer_) != 0) return fail(zip_error_strerror(zip_source_error(buffer_)));
    std::string bytes;
    bool ok = zip_source_seek(buffer_, 0, SEEK_END) == 0;
    zip_int64_t size = ok ? zip_source_tell(buffer_) : -1;
    ok = size >= 0 && zip_source_seek(buffer_, 0, SEEK_SET) == 0;
    if (ok) {
        bytes.resize(static_cast<size_t>(size));
        ok = zip_source_read(buffer_, bytes.data(), static_cast<zip_uint64_t>(size)) == size;
    }
    std::string message = ok ? std::string() : zip_error_strerror(zip_source_error(buffer_));
    zip_source_close(buffer_);
    if (!ok) return fail(message);
    return bytes;
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
