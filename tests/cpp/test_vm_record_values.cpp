// Default records of user Types and the field-path writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "values/record_values.h"

using namespace morvane;

namespace {

vm::TypeTable types() {
    return {
        {"point", {{"x", "long"}, {"y", "long"}}},
        {"seg", {{"a", "point"}, {"b", "point"}, {"tag", "string"}, {"d", "date"}, {"w", "double"}, {"ok", "boolean"}}},
        {"node", {{"value", "variant"}, {"next", "node"}}},
        {"left", {{"n", "integer"}, {"other", "right"}}},
        {"right", {{"back", "left"}}},
        {"twice", {{"f", "long"}, {"f", "string"}}},
    };
}

}  // namespace

TEST(VmRecordValues, Defaults) {
    const auto t = types();
    struct Case {
        const char* type;
        const char* want;
    };
    const Case cases[] = {
        {"point", "{x: 0, y: 0}"},
        {"seg", "{a: {x: 0, y: 0}, b: {x: 0, y: 0}, d: 00:00:00, ok: False, tag: , w: 0}"},
        // A Type that contains itself stops at the repeated field.
        {"node", "{next: , value: }"},
        {"left", "{n: 0, other: {back: }}"},
        {"right", "{back: {n: 0, other: }}"},
        {"twice", "{f: }"},
        {"widget", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(vm::make_record_default(c.type, t).to_string(), c.want) << c.type;
    EXPECT_TRUE(vm::make_record_default("seg", t).as_record().find("w")->is_float());
    EXPECT_TRUE(vm::make_record_default("point", t).as_record().find("x")->is_int());
}

TEST(VmRecordValues, NestedSet) {
    const std::vector<std::string> fg{"f", "g"};
    Variant undefined;
    vm::nested_set(undefined, fg, Variant(int64_t{1}));
    EXPECT_EQ(undefined.to_string(), "{f: {g: 1}}");

    Variant five(int64_t{5});
    vm::nested_set(five, std::vector<std::string>{"f"}, Variant("x"));
    EXPECT_EQ(five.to_string(), "{f: x}");

    Variant seg = vm::make_record_default("seg", types());
    vm::nested_set(seg, std::vector<std::string>{"a", "x"}, Variant(int64_t{3}));
    EXPECT_EQ(seg.as_record().find("a")->to_string(), "{x: 3, y: 0}");
    EXPECT_EQ(seg.as_record().find("b")->to_string(), "{x: 0, y: 0}");

    Variant whole(int64_t{1});
    vm::nested_set(whole, {}, Variant("replaced"));
    EXPECT_EQ(whole.to_string(), "replaced");
}
