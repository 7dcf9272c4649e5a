#include "reader/zip.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "reader/reader.h"
#include "types/os_error.h"

namespace morvane::reader {

namespace {

constexpr std::string_view kEntryMissing = "{}: specified file not found in archive";
constexpr std::string_view kNotUtf8 = "stream did not contain valid UTF-8";
constexpr std::string_view kPartTooLarge = "{}: part is larger than 4 GiB";
constexpr std::string_view kPartRatio = "{}: part inflates to more than 100 times its compressed size";
constexpr std::string_view kTooMuchData = "workbook decompresses to more than 100 times its size";

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

struct Decompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Decompressor() {
        if (d) libdeflate_free_decompressor(d);
    }
};

// The whole entry inflated by libdeflate into `out`, which holds its declared
// size. False (nothing reported) when the declared sizes are not the truth
// or the data is not plain Deflate, so that libzip reads it and names the
// fault; a checksum that does not match fails.
Result<bool> inflate_whole(zip_t* z, uint64_t index, const zip_stat_t& st, char* out) {
    EntryFile raw{zip_fopen_index(z, index, ZIP_FL_COMPRESSED)};
    if (!raw.file) return false;
    std::string packed;
    bool complete = true;
    packed.resize_and_overwrite(static_cast<size_t>(st.comp_size), [&](char* buf, size_t n) {
        size_t got = 0;
        while (got < n) {
            zip_int64_t r = zip_fread(raw.file, buf + got, n - got);
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        complete = got == n;
        return got;
    });
    if (!complete) return false;
    Decompressor inflater;
    if (!inflater.d) throw std::bad_alloc();
    size_t actual = 0;
    libdeflate_result rc =
        libdeflate_deflate_decompress(inflater.d, packed.data(), packed.size(), out, st.size, &actual);
    if (rc != LIBDEFLATE_SUCCESS || actual != st.size) return false;
    if (libdeflate_crc32(0, out, actual) != st.crc) return fail(zip_code_message(ZIP_ER_CRC));
    return true;
}

// Parts from this size on get memory of their own, handed back as they are read.
constexpr size_t kMappedPartBytes = size_t{1} << 20;
// Pages are handed back in steps of this many bytes.
constexpr size_t kReleaseStep = size_t{1} << 20;

}  // namespace

PartText::PartText(PartText&& other) noexcept
    : text_(std::move(other.text_)),
      mapped_(std::exchange(other.mapped_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      released_(std::exchange(other.released_, 0)) {}

PartText& PartText::operator=(PartText&& other) noexcept {
    if (this != &other) {
        unmap();
        text_ = std::move(other.text_);
        mapped_ = std::exchange(other.mapped_, nullptr);
        size_ = std::exchange(other.size_, 0);
        released_ = std::exchange(other.released_, 0);
    }
    return *this;
}

PartText::~PartText() { unmap(); }

void PartText::unmap() {
    if (mapped_) ::munmap(mapped_, size_);
    mapped_ = nullptr;
    size_ = released_ = 0;
}

PartText PartText::mapped(size_t n) {
    void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    PartText part;
    part.mapped_ = static_cast<char*>(p);
    part.size_ = n;
    return part;
}

std::string PartText::take() {
    if (!mapped_) return std::move(text_);
    std::string out(view());
    unmap();
    return out;
}

void PartText::release_before(const char* upto) {
    if (!mapped_ || upto < mapped_ || upto > mapped_ + size_) return;
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    size_t end = static_cast<size_t>(upto - mapped_) / page * page;
    if (end < released_ + kReleaseStep) return;
    // Anonymous pages handed back read as zeros: nothing here reads them again.
    ::madvise(mapped_ + released_, end - released_, MADV_DONTNEED);
    released_ = end;
}

std::string normalise_part_name(std::string_view name) {
    if (name.starts_with('/') || name.starts_with('\\')) name.remove_prefix(1);
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        else if (c == '\\')
            c = '/';
    }
    return out;
}

Result<ZipArchive> ZipArchive::open(const std::string& path, int* os_errno) {
    auto os_failure = [&](int err) {
        if (os_errno) *os_errno = err;
        return fail(os_error_text(err));
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return os_failure(errno);
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        int err = errno;
        ::close(fd);
        return os_failure(err);
    }
    // A directory opens for reading on Linux; reading it is what fails.
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return os_failure(EISDIR);
    }
    int code = 0;
    zip_t* z = zip_fdopen(fd, 0, &code);
    if (!z) {
        ::close(fd);  // libzip takes the descriptor only on success
        return fail(zip_code_message(code));
    }
    return ZipArchive(z, static_cast<uint64_t>(info.st_size));
}

ZipArchive::ZipArchive(zip_t* z, uint64_t file_size) : zip_(z), file_size_(file_size) {
    zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* name = zip_get_name(z, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name) names_.try_emplace(normalise_part_name(name), static_cast<uint64_t>(i));
    }
}

ZipArchive::ZipArchive(ZipArchive&& other) noexcept
    : zip_(std::exchange(other.zip_, nullptr)), file_size_(other.file_size_), names_(std::move(other.names_)) {}

ZipArchive::~ZipArchive() {
    if (zip_) zip_discard(zip_);
}

std::optional<uint64_t> ZipArchive::locate(std::string_view name) const {
    auto it = names_.find(normalise_part_name(name));
    if (it == names_.end()) return std::nullopt;
    return it->second;
}

Result<std::string> zip_read_text(ZipArchive& archive, std::string_view name, ByteBudget& budget) {
    return TRY(zip_read_part(archive, name, budget)).take();
}

Result<PartText> zip_read_part(ZipArchive& archive, std::string_view name, ByteBudget& budget) {
    zip_t* z = archive.zip_;
    std::optional<uint64_t> index = archive.locate(name);
    if (!index) return fail(format_message(kEntryMissing, name));
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, *index, 0, &st) != 0) return fail(zip_strerror(z));
    // Only stored and Deflate entries are read, whatever else libzip was built with.
    if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE)
        return fail(zip_code_message(ZIP_ER_COMPNOTSUPP));

    // Past its first few MiB a part may inflate to at most 100 times its
    // compressed size (a bomb fails before it is inflated), and never past 4 GiB.
    const uint64_t comp = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
    const uint64_t ratio_cap =
        std::max(kRatioGraceBytes, comp > kMaxPartBytes ? kMaxPartBytes + 1 : comp * kMaxInflateRatio);
    const uint64_t limit = std::min({kMaxPartBytes, ratio_cap, budget.left});
    auto too_large = [&](uint64_t n) {
        if (n > kMaxPartBytes) return fail(format_message(kPartTooLarge, name));
        if (n > ratio_cap) return fail(format_message(kPartRatio, name));
        return fail(std::string(kTooMuchData));
    };
    // The declared size is a hint only: a hostile header may lie either way.
    if ((st.valid & ZIP_STAT_SIZE) && st.size > limit) return too_large(st.size);

    constexpr zip_uint64_t kWhole = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
    bool plain = !(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE;
    if ((st.valid & kWhole) == kWhole && plain && st.comp_method == ZIP_CM_DEFLATE && st.size > 0 &&
        st.comp_size <= archive.file_size()) {
        const size_t n = static_cast<size_t>(st.size);
        PartText part;
        bool done = false;
        if (n >= kMappedPartBytes) {
            part = PartText::mapped(n);
            done = TRY(inflate_whole(z, *index, st, part.data()));
        } else {
            std::string text(n, '\0');
            done = TRY(inflate_whole(z, *index, st, text.data()));
            part = PartText(std::move(text));
        }
        if (done) {
            if (!valid_utf8(part.view())) return fail(std::string(kNotUtf8));
            budget.left -= n;
            return part;
        }
    }

    std::string out;
    EntryFile entry{zip_fopen_index(z, *index, 0)};
    if (!entry.file) return fail(zip_strerror(z));
    // A truthful size is read in one call (one byte more to see the end);
    // growth is left unfilled, since inflating writes every byte anyway.
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
        if (out.size() > limit) return too_large(out.size());
        if (n == 0) break;
    }
    if (int rc = zip_fclose(std::exchange(entry.file, nullptr)); rc != 0) return fail(zip_code_message(rc));
    if (!valid_utf8(out)) return fail(std::string(kNotUtf8));
    budget.left -= out.size();
    return PartText(std::move(out));
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
