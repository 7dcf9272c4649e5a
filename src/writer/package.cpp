#include "writer/package.h"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "reader/zip.h"

namespace morvane::writer {

namespace {

constexpr int kDeflateLevel = 6;
constexpr zip_uint16_t kDosDate = 0x0021;  // 1980-01-01
constexpr zip_uint16_t kDosTime = 0;       // 00:00:00
constexpr zip_uint32_t kRegularFile0644 = 0100644u << 16;
constexpr int kTempAttempts = 100;

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

Result<void> write_file_atomically(std::string_view path, std::string_view bytes) {
    static std::atomic<uint32_t> counter{0};
    const std::string target(path);
    std::string temp;
    int fd = -1;
    // A fresh name beside the target, so the final rename stays on one file system.
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt + 1 == kTempAttempts)) return fail(reader::os_error_text(errno));
    }
    auto abandon = [&](int err) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        return fail(reader::os_error_text(err));
    };
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
