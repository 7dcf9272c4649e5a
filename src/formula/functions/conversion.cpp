// Number and text conversion: TEXT (a value through a number format, read
// and rendered by formula/number_format.h), VALUE and NUMBERVALUE (a number
// read from text) and VALUETOTEXT.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "formula/args.h"
#include "formula/eval.h"
#include "formula/number_format.h"
#include "formula/text_chars.h"
#include "types/address.h"
#include "types/text.h"
#include "types/typed_input.h"

namespace morvane::eval {

namespace {

constexpr std::string_view kCannotRead = "VALUE: cannot convert '{}' to number";

// ---- Reading numbers -----------------------------------------------------

// `s` with every occurrence of `piece`, left to right, replaced by `with`.
std::string replaced(std::string_view s, std::string_view piece, std::string_view with) {
    std::string out;
    out.reserve(s.size());
    size_t from = 0;
    for (size_t at = s.find(piece); at != std::string_view::npos; at = s.find(piece, from)) {
        out.append(s.substr(from, at - from)).append(with);
        from = at + piece.size();
    }
    out.append(s.substr(from));
    return out;
}

// `s` without its white space, wherever it stands.
std::string without_white_space(std::string_view s) {
    std::string out;
    for (char32_t c : text::decode_utf8(s))
        if (!text::is_white_space(c)) text::append_utf8(out, c);
    return out;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        out.push_back(c);
        if (c == '"') out.push_back('"');
    }
    out.push_back('"');
    return out;
}

}  // namespace

// A text that reads as a number is formatted as that number; any other
// text goes through the format's text section. An empty format shows the
// value as General.
Result<Variant> func_text(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("TEXT", args.size(), 2, 2));
    const Variant v = TRY(evaluate(args[0], ctx));
    if (v.is_error()) return propagate(v.as_error());
    // A pattern written in the formula is read where it stands.
    std::string computed;
    std::string_view format;
    if (const auto* written = args[1].get<FormulaExpr::Text>()) {
        format = written->value;
    } else {
        computed = TRY(arg_text(args[1], ctx));
        format = computed;
    }
    const numfmt::Style style;
    const bool as_text = v.is_str() && !typed_number(v.as_str());
    double x = 0;
    if (!as_text) x = TRY(to_float(v));
    numfmt::Rendered shown = as_text          ? numfmt::render_text(format, v.as_str(), style)
                             : format.empty() ? numfmt::Rendered(numfmt::general_text(x))
                                              : numfmt::render_number(format, x, style);
    if (!shown) {
        if (shown.error().out_of_range) return Variant(ExcelError::Value);
        return fail("TEXT: " + shown.error().message);
    }
    return built_text(std::move(*shown), ctx);
}

// A text is read as typed input ("1,200", "50%", "(12)", a date); a number
// or date stays as it is, a blank is 0, and a logical is no number.
Result<Variant> func_value(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("VALUE", args.size(), 1, 1));
    const Variant v = TRY(evaluate(args[0], ctx));
    std::optional<double> x;
    if (v.is_str()) {
        x = typed_number(v.as_str());
    } else if (!v.is_bool()) {
        x = TRY(to_float(v));
    }
    if (!x) return fail(format_message(kCannotRead, to_str(v)));
    return number_variant(*x);
}

// A decimal comma alone brings the point as group separator ("2,5" with ","
// reads 2.5), as the two always go together.
Result<Variant> func_numbervalue(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("NUMBERVALUE", args.size(), 1, 3));
    const std::string s = TRY(arg_text(args[0], ctx));
    std::string decimal = ".";
    if (args.size() > 1) decimal = TRY(arg_text(args[1], ctx));
    std::string group = decimal == "," ? "." : ",";
    if (args.size() > 2) group = TRY(arg_text(args[2], ctx));
    if (decimal.empty() || decimal == group) return Variant(ExcelError::Value);
    if (text::trim(s).empty()) return Variant(int64_t{0});
    // Blanks may stand anywhere; what is left reads as typed input.
    std::string plain = without_white_space(s);
    if (!group.empty()) plain = replaced(plain, group, "");
    const auto x = typed_number(decimal == "." ? plain : replaced(plain, decimal, "."));
    if (!x) return Variant(ExcelError::Value);
    return number_variant(*x);
}

// Strict format (1) quotes a text and doubles the quotes inside it.
Result<Variant> func_valuetotext(Args args, const EvalCtx& ctx) {
    TRY_VOID(check_arity("VALUETOTEXT", args.size(), 1, kNoMax));
    const Variant v = TRY(evaluate(args[0], ctx));
    const bool strict = args.size() > 1 && saturate_i32(TRY(arg_number(args[1], ctx))) == 1;
    if (strict && v.is_str()) return built_text(quoted(v.as_str()), ctx);
    return Variant(to_str(v));
}

namespace {
constexpr FuncEntry kTable[] = {
    {"NUMBERVALUE", func_numbervalue},
    {"TEXT", func_text},
    {"VALUE", func_value},
    {"VALUETOTEXT", func_valuetotext},
};
}  // namespace

std::span<const FuncEntry> conversion_functions() { return kTable; }

}  // namespace morvane::eval
