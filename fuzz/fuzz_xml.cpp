// libFuzzer target: the XML tokenizer and entity unescaping on any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    morvane::reader::XmlIter it(text);
    morvane::reader::Ev ev;
    size_t events = 0;
    while (it.next(ev)) {
        ++events;
        if (ev.is_open()) (void)morvane::reader::attr_is_true(ev.attrs, "t");
    }
    // Every event consumes input, so there are never more events than bytes.
    if (events > size) __builtin_trap();
    (void)morvane::reader::xml_unescape(text);
    return 0;
}
