#include "types/os_error.h"

#include <cstring>

#include "types/result.h"

namespace morvane {

std::string os_error_text(int err) {
    char buf[256];
    const char* text = strerror_r(err, buf, sizeof buf);  // GNU form: returns the text
    return format_message("{} (os error {})", text, std::to_string(err));
}

}  // namespace morvane
