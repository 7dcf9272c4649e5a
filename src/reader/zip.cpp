#include "reader/zip.h"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

#include "reader/reader.h"

namespace morvane::reader {

namespace {

constexpr std::string_view kEntryMissing = "{}: specified file not found in archive";
constexpr std::string_view kNotUtf8 = "stream did not contain valid UTF-8";
constexpr std::string_view kPartTooLarge = "{}: part is larger than 64 MiB";
constexpr std::string_view kTooMuchData = "workbook decompresses to more than 256 MiB";
constexpr std::string_view kOsError = "{} (os error {})";

constexpr size_t kReadChunk = size_t{1} << 16;

std::string zip_code_message(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// Closes an entry opened for reading on every path.
struct EntryFile {
    zip_file_t* file;
    ~EntryFile() {
        if (file) zip_fclose(file);
    }
};

}  // namespace

std::string os_error_text(int err) {
    char buf[256];
    const char* text = strerror_r(err, buf, sizeof buf);  // GNU form: returns the text
    return format_message(kOsError, text, std::to_string(err));
}

Result<ZipArchive> ZipArchive::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(os_error_text(errno));
    int code = 0;
    zip_t* z = zip_fdopen(fd, 0, &code);
    if (!z) {
        ::close(fd);  // libzip takes the descriptor only on success
        return fail(zip_code_message(code));
    }
    return ZipArchive(z);
}

ZipArchive::ZipArchive(ZipArchive&& other) noexcept : zip_(std::exchange(other.zip_, nullptr)) {}

ZipArchive::~ZipArchive() {
    if (zip_) zip_discard(zip_);
}

bool ZipArchive::contains(std::string_view name) const {
    return zip_name_locate(zip_, std::string(name).c_str(), 0) >= 0;
}

Result<std::string> zip_read_text(ZipArchive& archive, std::string_view name, ByteBudget& budget) {
    zip_t* z = archive.zip_;
    zip_int64_t index = zip_name_locate(z, std::string(name).c_str(), 0);
    if (index < 0) return fail(format_message(kEntryMissing, name));
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, static_cast<zip_uint64_t>(index), 0, &st) != 0) return fail(zip_strerror(z));
    // Only stored and Deflate entries are read, whatever else libzip was built with.
    if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE)
        return fail(zip_code_message(ZIP_ER_COMPNOTSUPP));
    EntryFile entry{zip_fopen_index(z, static_cast<zip_uint64_t>(index), 0)};
    if (!entry.file) return fail(zip_strerror(z));

    // The declared size is a hint only: a hostile header may lie either way.
    const uint64_t limit = std::min(kMaxPartBytes, budget.left);
    // A truthful size is read in one call (one byte more to see the end);
    // growth is left unfilled, since inflating writes every byte anyway.
    std::string out;
    size_t want = kReadChunk;
    if (st.valid & ZIP_STAT_SIZE) {
        want = static_cast<size_t>(std::min<uint64_t>(st.size, limit) + 1);
        out.reserve(want);
    }
    for (;;) {
        size_t old = out.size();
        size_t chunk = want > old ? want - old : kReadChunk;
        zip_int64_t n = 0;
        out.resize_and_overwrite(old + chunk, [&](char* buf, size_t) {
            n = zip_fread(entry.file, buf + old, chunk);
            return old + static_cast<size_t>(std::max<zip_int64_t>(n, 0));
        });
        if (n < 0) return fail(zip_file_strerror(entry.file));
        if (out.size() > limit) {
            if (out.size() > kMaxPartBytes) return fail(format_message(kPartTooLarge, name));
            return fail(std::string(kTooMuchData));
        }
        if (n == 0) break;
    }
    if (int rc = zip_fclose(std::exchange(entry.file, nullptr)); rc != 0) return fail(zip_code_message(rc));
    if (!valid_utf8(out)) return fail(std::string(kNotUtf8));
    budget.left -= out.size();
    return out;
}

bool valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        // ASCII runs, eight bytes at a time.
        while (i + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n || p[i + 1] < lo || p[i + 1] > hi) return false;
        for (size_t k = 2; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

}  // namespace morvane::reader
