// libFuzzer target: the OpenDocument reader. Input starting with "PK" is
// read as a whole package through a file; anything else as content.xml.
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
        static const std::string path = "/tmp/morvane-fuzz-" + std::to_string(getpid()) + ".ods";
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data, 1, size, f);
            std::fclose(f);
            (void)read_workbook(path);
        }
        return 0;
    }
    ReadBudget budget;
    auto sheets = read_ods_content(input, budget);
    if (sheets) {
        size_t cells = 0;
        for (const auto& s : *sheets) cells += s.cells.size();
        // Beyond the cells written out, only repeats add values, and they are counted.
        if (cells > input.size() + kMaxRepeatedCells) __builtin_trap();
    }
    return 0;
}
