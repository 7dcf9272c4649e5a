// Formula grammar (blanks = space and tab, allowed between any two tokens):
//
//   formula        := "="* expr
//   expr           := concat (("=" | "<>" | "<" | "<=" | ">" | ">=") concat)*
//   concat         := additive ("&" additive)*
//   additive       := multiplicative (("+" | "-") multiplicative)*
//   multiplicative := unary (("*" | "/") unary)*
//   unary          := ("+" | "-") unary | primary
//   primary        := string | number | "(" expr ")" | reference | call | name
//   string         := '"' (any | '""')* '"'
//   number         := digit+ ("." digit*)?
//   reference      := cell (":" cell)?        cell := "$"? letters "$"? digits
//   call           := name "(" (expr ("," expr)*)? ")"
//   name           := letters ("." letters)* digits?      (TRUE / FALSE are booleans)
//
// Names are upper-cased. A "$" in a reference is accepted and ignored.
#include "formula/parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <expected>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "formula/eval.h"
#include "types/address.h"
#include "types/stack.h"
#include "types/text.h"

namespace morvane::formula::parser {

namespace {

template <ExcelError E>
Result<Variant> error_literal(std::span<const FormulaExpr>, const eval::EvalCtx&) {
    return Variant(E);
}

constexpr std::string_view kEndOfFormula = "Unexpected end of formula";
constexpr std::string_view kUnterminated = "Unterminated string literal";
constexpr std::string_view kExpectedParen = "Expected ')'";
constexpr std::string_view kExpectedCallParen = "Expected ')' after arguments of '{}'";
constexpr std::string_view kUnexpectedChar = "Unexpected character: '{}'";
constexpr std::string_view kUnexpectedInput = "Unexpected input at position {}: '{}'";
constexpr std::string_view kRowTooLarge = "number too large to fit in target type";
constexpr std::string_view kRowMissing = "cannot parse integer from empty string";
constexpr std::string_view kOffSheet = "Reference past the sheet's last column XFD or row 1048576: '{}'";

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// A parsed subtree with its depth, so that long operator chains are bounded
// like nesting (the evaluator recurses once per level).
struct Parsed {
    FormulaExpr expr;
    uint32_t depth;
};

Parsed leaf(FormulaExpr::Node node) { return Parsed{FormulaExpr{std::move(node)}, 1}; }

class FormulaParser {
public:
    FormulaParser(std::string_view text, Refs refs) : s_(text), refs_(refs) {}

    size_t pos() const { return pos_; }
    bool at_end() const { return pos_ >= s_.size(); }

    void skip_blanks() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    }

    Result<Parsed> parse_expr() {
        skip_blanks();
        Parsed lhs = TRY(parse_concat());
        for (;;) {
            skip_blanks();
            std::optional<FormulaOp> op = comparison_op();
            if (!op) return lhs;
            skip_blanks();
            Parsed rhs = TRY(parse_concat());
            lhs = TRY(binary(std::move(lhs), std::move(rhs), *op));
        }
    }

private:
    // Consumes a comparison operator at pos, if one stands there.
    std::optional<FormulaOp> comparison_op() {
        if (at_end()) return std::nullopt;
        char c = s_[pos_];
        char next = pos_ + 1 < s_.size() ? s_[pos_ + 1] : '\0';
        FormulaOp op;
        size_t len = 1;
        if (c == '=') {
            op = FormulaOp::Eq;
        } else if (c == '<') {
            op = next == '=' ? FormulaOp::Le : next == '>' ? FormulaOp::Ne : FormulaOp::Lt;
            if (op != FormulaOp::Lt) len = 2;
        } else if (c == '>') {
            op = next == '=' ? FormulaOp::Ge : FormulaOp::Gt;
            if (op == FormulaOp::Ge) len = 2;
        } else {
            return std::nullopt;
        }
        pos_ += len;
        return op;
    }

    // One left-associative level over `next` with single-character operators.
    template <class Next>
    Result<Parsed> binary_level(Next next, std::string_view ops, std::span<const FormulaOp> codes) {
        Parsed lhs = TRY((this->*next)());
        for (;;) {
            skip_blanks();
            if (at_end()) return lhs;
            size_t k = ops.find(s_[pos_]);
            if (k == std::string_view::npos) return lhs;
            ++pos_;
            skip_blanks();
            Parsed rhs = TRY((this->*next)());
            lhs = TRY(binary(std::move(lhs), std::move(rhs), codes[k]));
        }
    }

    Result<Parsed> parse_concat() {
        static constexpr FormulaOp codes[] = {FormulaOp::Concat};
        return binary_level(&FormulaParser::parse_additive, "&", codes);
    }
    Result<Parsed> parse_additive() {
        static constexpr FormulaOp codes[] = {FormulaOp::Add, FormulaOp::Sub};
        return binary_level(&FormulaParser::parse_multiplicative, "+-", codes);
    }
    Result<Parsed> parse_multiplicative() {
        static constexpr FormulaOp codes[] = {FormulaOp::Mul, FormulaOp::Div};
        return binary_level(&FormulaParser::parse_unary, "*/", codes);
    }

    // Signs repeat (--A1, +-1); "+" leaves no node.
    Result<Parsed> parse_unary() {
        skip_blanks();
        if (at_end() || (s_[pos_] != '+' && s_[pos_] != '-')) return parse_primary();
        const bool minus = s_[pos_++] == '-';
        Nest nest(*this);
        TRY_VOID(nest.check());
        Parsed operand = TRY(parse_unary());
        if (minus) {
            uint32_t depth = operand.depth + 1;
            TRY_VOID(check_depth(depth));
            auto boxed = std::make_unique<FormulaExpr>(std::move(operand.expr));
            return Parsed{FormulaExpr{FormulaExpr::Neg{std::move(boxed)}}, depth};
        }
        return operand;
    }

    Result<Parsed> parse_primary() {
        skip_blanks();
        if (at_end()) return fail(std::string(kEndOfFormula));
        char c = s_[pos_];
        if (c == '"') return parse_string();
        if (c == '(') {
            ++pos_;
            Nest nest(*this);
            TRY_VOID(nest.check());
            Parsed inner = TRY(parse_expr());
            skip_blanks();
            if (at_end() || s_[pos_] != ')') return fail(std::string(kExpectedParen));
            ++pos_;
            return inner;
        }
        if (is_digit(c)) return parse_number();
        if (is_letter(c) || c == '$') return parse_identifier();
        if (c == '#') return parse_error_literal();
        return unexpected_char();
    }

    // An error value written as such (#REF! where a filled or pasted
    // reference left the sheet): it evaluates to that error.
    Result<Parsed> parse_error_literal() {
        static constexpr std::pair<std::string_view, FuncHandler> kErrors[] = {
            {"#DIV/0!", &error_literal<ExcelError::DivZero>}, {"#N/A", &error_literal<ExcelError::NA>},
            {"#VALUE!", &error_literal<ExcelError::Value>},   {"#REF!", &error_literal<ExcelError::Ref>},
            {"#NAME?", &error_literal<ExcelError::Name>},     {"#NUM!", &error_literal<ExcelError::Num>},
            {"#NULL!", &error_literal<ExcelError::Null>},
        };
        for (const auto& [text, handler] : kErrors) {
            if (s_.size() - pos_ < text.size()) continue;
            bool same = true;
            for (size_t i = 0; i < text.size(); ++i) same = same && upper(s_[pos_ + i]) == text[i];
            if (!same) continue;
            pos_ += text.size();
            return leaf(FormulaExpr::Func{std::string(text), {}, handler});
        }
        return unexpected_char();
    }

    std::unexpected<std::string> unexpected_char() const {
        // Show the whole UTF-8 character, not its first byte.
        size_t len = 1;
        auto lead = static_cast<unsigned char>(s_[pos_]);
        if (lead >= 0xF0)
            len = 4;
        else if (lead >= 0xE0)
            len = 3;
        else if (lead >= 0xC0)
            len = 2;
        len = std::min(len, s_.size() - pos_);
        return fail(format_message(kUnexpectedChar, s_.substr(pos_, len)));
    }

    Result<Parsed> parse_string() {
        ++pos_;  // opening quote
        std::string out;
        for (;;) {
            if (at_end()) return fail(std::string(kUnterminated));
            char c = s_[pos_++];
            if (c == '"') {
                if (!at_end() && s_[pos_] == '"') {
                    out.push_back('"');
                    ++pos_;
                    continue;
                }
                return leaf(FormulaExpr::Text{std::move(out)});
            }
            out.push_back(c);
        }
    }

    Result<Parsed> parse_number() {
        size_t start = pos_;
        while (!at_end() && is_digit(s_[pos_])) ++pos_;
        size_t int_end = pos_;
        if (!at_end() && s_[pos_] == '.') {
            ++pos_;
            while (!at_end() && is_digit(s_[pos_])) ++pos_;
        }
        std::string_view lit = s_.substr(start, pos_ - start);
        double value = 0;
        auto [ptr, ec] = std::from_chars(lit.data(), lit.data() + lit.size(), value);
        (void)ptr;
        if (ec == std::errc::result_out_of_range) {
            // Too large is infinity; too small (all zeros before the point) is 0.
            bool big = std::any_of(s_.begin() + start, s_.begin() + int_end, [](char d) { return d != '0'; });
            value = big ? std::numeric_limits<double>::infinity() : 0.0;
        }
        return leaf(FormulaExpr::Number{value});
    }

    // Letters (upper-cased) at pos, possibly none.
    std::string read_letters() {
        std::string out;
        while (!at_end() && is_letter(s_[pos_])) out.push_back(upper(s_[pos_++]));
        return out;
    }
    std::string_view read_digits() {
        size_t start = pos_;
        while (!at_end() && is_digit(s_[pos_])) ++pos_;
        return s_.substr(start, pos_ - start);
    }
    // "$" before row digits: consumed only when digits follow.
    bool skip_row_dollar() {
        if (pos_ + 1 < s_.size() && s_[pos_] == '$' && is_digit(s_[pos_ + 1])) {
            ++pos_;
            return true;
        }
        return false;
    }

    static Result<uint32_t> row_number(std::string_view digits) {
        if (digits.empty()) return fail(std::string(kRowMissing));
        uint64_t row = 0;
        for (char d : digits) {
            row = row * 10 + static_cast<uint64_t>(d - '0');
            if (row > std::numeric_limits<uint32_t>::max()) return fail(std::string(kRowTooLarge));
        }
        return static_cast<uint32_t>(row);
    }

    Result<Parsed> parse_identifier() {
        size_t start = pos_;
        bool dollar = false;
        if (s_[pos_] == '$') {
            ++pos_;
            dollar = true;
            if (at_end() || !is_letter(s_[pos_])) {
                pos_ = start;
                return unexpected_char();
            }
        }
        std::string name = read_letters();
        bool dotted = false;
        while (!dollar && pos_ + 1 < s_.size() && s_[pos_] == '.' && is_letter(s_[pos_ + 1])) {
            ++pos_;
            name.push_back('.');
            name += read_letters();
            dotted = true;
        }
        if (!dotted && skip_row_dollar()) dollar = true;
        std::string_view digits = read_digits();

        size_t after = pos_;
        skip_blanks();
        bool call = !at_end() && s_[pos_] == '(';
        if (!digits.empty() && !dotted && !call) return parse_reference(start, name, digits);
        if (dollar) {
            // A "$" only belongs to a cell reference.
            pos_ = start;
            while (s_[pos_] != '$') ++pos_;
            return unexpected_char();
        }
        pos_ = after;
        name += digits;
        skip_blanks();
        if (call) return parse_call(std::move(name));
        if (name == "TRUE") return leaf(FormulaExpr::Bool{true});
        if (name == "FALSE") return leaf(FormulaExpr::Bool{false});
        FuncHandler handler = eval::find_function(name);
        return leaf(FormulaExpr::Func{std::move(name), {}, handler});
    }

    // The reference starting at `start`, its first corner read up to here.
    Result<Parsed> parse_reference(size_t start, std::string_view letters, std::string_view digits) {
        uint32_t col = col_letters_to_num(letters);
        uint32_t row = TRY(row_number(digits));
        // No cell lies there: refused here, where the text is still at hand,
        // instead of a slow or silent answer from each function that reads it.
        auto past_sheet = [&](uint32_t c, uint32_t r) {
            return refs_ == Refs::OnSheet && (c > kMaxCol || r > kMaxRow);
        };
        const size_t end = pos_;
        skip_blanks();
        if (at_end() || s_[pos_] != ':') {
            if (past_sheet(col, row)) return fail(format_message(kOffSheet, s_.substr(start, end - start)));
            return leaf(FormulaExpr::CellRef{col, row});
        }
        ++pos_;
        skip_blanks();
        if (!at_end() && s_[pos_] == '$') ++pos_;
        std::string letters2 = read_letters();
        skip_row_dollar();
        std::string_view digits2 = read_digits();
        uint32_t row2 = TRY(row_number(digits2));
        const uint32_t col2 = col_letters_to_num(letters2);
        if (past_sheet(col, row) || past_sheet(col2, row2))
            return fail(format_message(kOffSheet, s_.substr(start, pos_ - start)));
        return leaf(FormulaExpr::Range{col, row, col2, row2});
    }

    Result<Parsed> parse_call(std::string name) {
        ++pos_;  // "("
        Nest nest(*this);
        TRY_VOID(nest.check());
        std::vector<FormulaExpr> args;
        uint32_t depth = 1;
        skip_blanks();
        if (!at_end() && s_[pos_] == ')') {
            ++pos_;
        } else {
            for (;;) {
                Parsed arg = TRY(parse_expr());
                depth = std::max(depth, arg.depth + 1);
                args.push_back(std::move(arg.expr));
                skip_blanks();
                if (at_end() || s_[pos_] != ',') break;
                ++pos_;
                skip_blanks();
            }
            skip_blanks();
            if (at_end() || s_[pos_] != ')') return fail(format_message(kExpectedCallParen, name));
            ++pos_;
        }
        TRY_VOID(check_depth(depth));
        FuncHandler handler = eval::find_function(name);
        return Parsed{FormulaExpr{FormulaExpr::Func{std::move(name), std::move(args), handler}}, depth};
    }

    static Result<void> check_depth(uint32_t depth) {
        if (depth > kMaxTreeDepth) return fail(std::string(eval::kNestedTooDeeply));
        return {};
    }

    static Result<Parsed> binary(Parsed lhs, Parsed rhs, FormulaOp op) {
        uint32_t depth = std::max(lhs.depth, rhs.depth) + 1;
        TRY_VOID(check_depth(depth));
        return Parsed{FormulaExpr{FormulaExpr::Binary{std::make_unique<FormulaExpr>(std::move(lhs.expr)),
                                                      std::make_unique<FormulaExpr>(std::move(rhs.expr)), op}},
                      depth};
    }

    // One level of recursive nesting (parenthesis, call or sign) while alive.
    class Nest {
    public:
        explicit Nest(FormulaParser& p) : p_(p) { ++p_.nesting_; }
        ~Nest() { --p_.nesting_; }
        Result<void> check() const {
            if (p_.nesting_ > kMaxNesting || stack_nearly_exhausted()) return fail(std::string(eval::kNestedTooDeeply));
            return {};
        }

    private:
        FormulaParser& p_;
    };

    std::string_view s_;
    Refs refs_;
    size_t pos_ = 0;
    uint32_t nesting_ = 0;
};

}  // namespace

uint32_t col_letters_to_num(std::string_view letters) {
    constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
    uint64_t n = 0;
    for (char c : letters) {
        n = std::min(n * 26, kMax);
        n = std::min(n + static_cast<uint64_t>(upper(c) - 'A' + 1), kMax);
    }
    return static_cast<uint32_t>(n);
}

Result<FormulaExpr> parse(std::string_view text, Refs refs) {
    std::string_view rest = text::trim(text);
    while (!rest.empty() && rest.front() == '=') rest.remove_prefix(1);
    FormulaParser p(rest, refs);
    Parsed tree = TRY(p.parse_expr());
    p.skip_blanks();
    if (!p.at_end()) {
        std::string where = std::to_string(text::char_count(rest.substr(0, p.pos())));
        return fail(format_message(kUnexpectedInput, where, rest.substr(p.pos())));
    }
    return std::move(tree.expr);
}

}  // namespace morvane::formula::parser
