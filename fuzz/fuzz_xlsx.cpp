// libFuzzer target: the .xlsx reader. Input starting with "PK" is read as a
// whole package through a file; anything else is split at the first NUL into
// a shared-strings part and a worksheet part and walked directly.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "reader/package.h"

using namespace morvane::reader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.starts_with("PK")) {
        static const std::string path = "/tmp/morvane-fuzz-" + std::to_string(getpid()) + ".xlsx";
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data, 1, size, f);
            std::fclose(f);
            (void)read_workbook(path);
        }
        return 0;
    }
    size_t nul = input.find('\0');
    std::string_view strings_xml = nul == std::string_view::npos ? std::string_view() : input.substr(0, nul);
    std::string_view sheet_xml = nul == std::string_view::npos ? input : input.substr(nul + 1);
    ReadBudget budget;
    auto strings = read_shared_strings(strings_xml, budget);
    if (!strings) return 0;
    SheetContext context{&*strings, nullptr};
    auto sheet = read_xlsx_sheet("fuzz", sheet_xml, context, budget);
    // Every value stands in its part: a sheet cannot hold more cells than its part has bytes.
    if (sheet && sheet->cells.size() > sheet_xml.size()) __builtin_trap();
    return 0;
}
