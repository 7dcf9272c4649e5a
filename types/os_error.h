// The operating system's failures as text: the one form in which the file
// reader and writer report an error number.
#pragma once

#include <string>

namespace morvane {

// The operating system's description of `err`, then " (os error N)".
std::string os_error_text(int err);

}  // namespace morvane
