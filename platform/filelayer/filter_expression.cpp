// The filter expressions: a tokenizer, a recursive-descent parser that binds names to the given
// variables and builds a tree, and the evaluation of that tree on a record image.
//
// Values are numbers (double) or texts. Texts compare byte by byte with trailing blanks ignored;
// a text compared with a number compares as the number it spells, and fails when it spells none.
// A comparison, AND, OR and NOT give 1 or 0. Any operand that cannot be read (a field beyond the
// record, a packed decimal with a half-byte that is no digit) makes the whole evaluation fail.
#include "filelayer/filter_expression.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vellum/byte_order.h"
#include "vellum/control_blocks.h"

namespace vellum {

namespace {

enum class Relation { equal, notEqual, less, greater, lessOrEqual, greaterOrEqual };

enum class TokenKind {
    number, text, name, keywordAnd, keywordOr, keywordNot, relation, open, close, end
};

struct Token {
    TokenKind kind = TokenKind::end;
    std::string text;  // a text literal without its quotes, or a name
    double number = 0;
    Relation relation = Relation::equal;
};

enum class NodeKind { number, text, variable, comparison, all, any, negation };

struct Node {
    NodeKind kind = NodeKind::number;
    double number = 0;
    std::string text;
    size_t variable = 0;  // into the filter's own variables
    Relation relation = Relation::equal;
    std::vector<Node> children;
};

struct Value {
    bool isText = false;
    double number = 0;
    std::string_view text;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isNamePart(char c) { return isNameStart(c) || isDigit(c) || c == ':'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

// The name without its prefix up to and including the last ':'.
std::string_view withoutPrefix(std::string_view name) {
    size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view trimTrailingBlanks(std::string_view text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::optional<double> parseDouble(std::string_view digits) {
    double value = 0;
    auto [end, result] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// The number a text spells: blanks around it, a sign, digits with at most one decimal point.
std::optional<double> numberOf(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    text = trimTrailingBlanks(text.substr(first));
    bool negative = text[0] == '-';
    if (text[0] == '-' || text[0] == '+') text.remove_prefix(1);
    bool anyDigit = false;
    bool point = false;
    for (char c : text) {
        if (isDigit(c)) {
            anyDigit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit) return std::nullopt;
    std::optional<double> value = parseDouble(text);
    if (value && negative) *value = -*value;
    return value;
}

// Tokenizer ----------------------------------------------------------------------------------

int relationAt(std::string_view text, size_t* at, Relation* relation) {
    struct Spelling {
        std::string_view text;
        Relation relation;
    };
    // Two-character spellings first, so that "<=" is not read as "<" and "=".
    static constexpr Spelling kSpellings[] = {
        {"<>", Relation::notEqual},       {"~=", Relation::notEqual},
        {"<=", Relation::lessOrEqual},    {"=<", Relation::lessOrEqual},
        {">=", Relation::greaterOrEqual}, {"=>", Relation::greaterOrEqual},
        {"=", Relation::equal},           {"<", Relation::less},
        {">", Relation::greater},
    };
    for (const Spelling& spelling : kSpellings) {
        if (text.substr(*at, spelling.text.size()) == spelling.text) {
            *relation = spelling.relation;
            *at += spelling.text.size();
            return 0;
        }
    }
    return kFilterSyntaxError;
}

int textLiteralAt(std::string_view text, size_t* at, std::string* out) {
    for (size_t i = *at + 1; i < text.size(); ++i) {
        if (text[i] != '\'') {
            out->push_back(text[i]);
        } else if (i + 1 < text.size() && text[i + 1] == '\'') {
            out->push_back('\'');
            ++i;
        } else {
            *at = i + 1;
            return 0;
        }
    }
    return kFilterSyntaxError;  // no closing quote
}

int numberLiteralAt(std::string_view text, size_t* at, double* out) {
    size_t end = *at;
    if (text[end] == '-') ++end;
    while (end < text.size() && isDigit(text[end])) ++end;
    if (end + 1 < text.size() && text[end] == '.' && isDigit(text[end + 1])) {
        ++end;
        while (end < text.size() && isDigit(text[end])) ++end;
    }
    std::optional<double> value = parseDouble(text.substr(*at, end - *at));
    if (!value) return kFilterSyntaxError;
    *out = *value;
    *at = end;
    return 0;
}

int tokenize(std::string_view text, std::vector<Token>* tokens) {
    size_t at = 0;
    while (true) {
        while (at < text.size() && isSpace(text[at])) ++at;
        Token token;
        if (at == text.size()) {
            tokens->push_back(std::move(token));
            return 0;
        }
        char c = text[at];
        int result = 0;
        if (c == '(' || c == ')') {
            token.kind = c == '(' ? TokenKind::open : TokenKind::close;
            ++at;
        } else if (c == '\'') {
            token.kind = TokenKind::text;
            result = textLiteralAt(text, &at, &token.text);
        } else if (isDigit(c) || (c == '-' && at + 1 < text.size() && isDigit(text[at + 1]))) {
            token.kind = TokenKind::number;
            result = numberLiteralAt(text, &at, &token.number);
        } else if (isNameStart(c)) {
            size_t end = at;
            while (end < text.size() && isNamePart(text[end])) ++end;
            token.text = text.substr(at, end - at);
            at = end;
            token.kind = sameName(token.text, "AND")   ? TokenKind::keywordAnd
                         : sameName(token.text, "OR")  ? TokenKind::keywordOr
                         : sameName(token.text, "NOT") ? TokenKind::keywordNot
                                                       : TokenKind::name;
        } else {
            token.kind = TokenKind::relation;
            result = relationAt(text, &at, &token.relation);
        }
        if (result != 0) return result;
        tokens->push_back(std::move(token));
    }
}

// Parser ----------------------------------------------------------------------------------

class Parser {
public:
    Parser(const std::vector<Token>& tokens, std::span<const FilterVariable> variables)
        : tokens_(tokens), variables_(variables) {}

    int parse(Node* root) {
        int result = parseAny(0, root);
        if (result == 0 && next().kind != TokenKind::end) result = kFilterSyntaxError;
        return result;
    }

    std::vector<FilterVariable> takeBound() { return std::move(bound_); }

private:
    const Token& next() const { return tokens_[at_]; }

    // One or more operands of the same kind joined by a keyword, as one node of that kind.
    template <typename ParseOperand>
    int parseJoined(TokenKind keyword, NodeKind kind, Node* out, ParseOperand parseOperand) {
        Node first;
        if (int result = parseOperand(&first); result != 0) return result;
        if (next().kind != keyword) {
            *out = std::move(first);
            return 0;
        }
        out->kind = kind;
        out->children.push_back(std::move(first));
        while (next().kind == keyword) {
            ++at_;
            Node operand;
            if (int result = parseOperand(&operand); result != 0) return result;
            out->children.push_back(std::move(operand));
        }
        return 0;
    }

    int parseAny(int depth, Node* out) {
        return parseJoined(TokenKind::keywordOr, NodeKind::any, out,
                           [&](Node* operand) { return parseAll(depth, operand); });
    }

    int parseAll(int depth, Node* out) {
        return parseJoined(TokenKind::keywordAnd, NodeKind::all, out,
                           [&](Node* operand) { return parseNegation(depth, operand); });
    }

    int parseNegation(int depth, Node* out) {
        if (next().kind != TokenKind::keywordNot) return parseComparison(depth, out);
        if (depth >= kMaxFilterNesting) return kFilterSyntaxError;
        ++at_;
        out->kind = NodeKind::negation;
        out->children.emplace_back();
        return parseNegation(depth + 1, &out->children.back());
    }

    int parseComparison(int depth, Node* out) {
        Node left;
        if (int result = parseOperand(depth, &left); result != 0) return result;
        if (next().kind != TokenKind::relation) {
            *out = std::move(left);
            return 0;
        }
        out->kind = NodeKind::comparison;
        out->relation = next().relation;
        ++at_;
        out->children.push_back(std::move(left));
        out->children.emplace_back();
        return parseOperand(depth, &out->children.back());
    }

    int parseOperand(int depth, Node* out) {
        const Token& token = next();
        switch (token.kind) {
            case TokenKind::number:
                out->kind = NodeKind::number;
                out->number = token.number;
                break;
            case TokenKind::text:
                out->kind = NodeKind::text;
                out->text = token.text;
                break;
            case TokenKind::name:
                out->kind = NodeKind::variable;
                if (!bind(token.text, &out->variable)) return kFilterUnknownName;
                break;
            case TokenKind::open: {
                if (depth >= kMaxFilterNesting) return kFilterSyntaxError;
                ++at_;
                if (int result = parseAny(depth + 1, out); result != 0) return result;
                if (next().kind != TokenKind::close) return kFilterSyntaxError;
                break;
            }
            default:
                return kFilterSyntaxError;
        }
        ++at_;
        return 0;
    }

    // Finds the variable a name means (its full name first, then its name without prefix) and
    // gives its place among the filter's own variables.
    bool bind(std::string_view name, size_t* index) {
        const FilterVariable* found = nullptr;
        for (const FilterVariable& variable : variables_) {
            if (sameName(variable.name, name)) {
                found = &variable;
                break;
            }
        }
        for (size_t i = 0; found == nullptr && i < variables_.size(); ++i) {
            if (sameName(withoutPrefix(variables_[i].name), name)) found = &variables_[i];
        }
        if (found == nullptr) return false;
        size_t source = static_cast<size_t>(found - variables_.data());
        for (size_t i = 0; i < boundSources_.size(); ++i) {
            if (boundSources_[i] == source) {
                *index = i;
                return true;
            }
        }
        *index = bound_.size();
        boundSources_.push_back(source);
        bound_.push_back(*found);
        return true;
    }

    const std::vector<Token>& tokens_;
    std::span<const FilterVariable> variables_;
    size_t at_ = 0;
    std::vector<FilterVariable> bound_;
    std::vector<size_t> boundSources_;
};

// Evaluation -------------------------------------------------------------------------------

// The bytes a field's value takes: fixed for the binary numbers, else one element.
uint64_t fieldWidth(const FilterVariable& field) {
    switch (field.type) {
        case kByte: return 1;
        case kShort: case kUShort: return 2;
        case kDate: case kTime: case kLong: case kULong: case kSReal: return 4;
        case kReal: return 8;
        default: return field.elementSize != 0 ? field.elementSize : field.size;
    }
}

// The value of packed-decimal digits: the half-bytes [first, end) of the field, each 0 to 9,
// with places of them after the decimal point. Read through the decimal text, so that a field
// and a literal spelling the same number are the same double.
std::optional<double> packedValue(const uint8_t* at, size_t first, size_t end, bool negative,
                                  unsigned places) {
    std::string digits;
    for (size_t nibble = first; nibble < end; ++nibble) {
        int digit = nibble % 2 == 0 ? at[nibble / 2] >> 4 : at[nibble / 2] & 0x0F;
        if (digit > 9) return std::nullopt;
        digits.push_back(static_cast<char>('0' + digit));
    }
    if (places > 0) {
        if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
        digits.insert(digits.size() - places, 1, '.');
    }
    std::optional<double> value = parseDouble(digits.empty() ? "0" : digits);
    if (value && negative) *value = -*value;
    return value;
}

std::optional<Value> number(std::optional<double> value) {
    if (!value) return std::nullopt;
    return Value{false, *value, {}};
}

std::optional<Value> text(const uint8_t* at, size_t length) {
    return Value{true, 0, std::string_view(reinterpret_cast<const char*>(at), length)};
}

std::optional<Value> readField(const FilterVariable& field, std::span<const uint8_t> record) {
    const uint64_t width = fieldWidth(field);
    if (uint64_t{field.offset} + width > record.size()) return std::nullopt;
    const uint8_t* at = record.data() + field.offset;
    switch (field.type) {
        case kByte: return number(at[0]);
        case kShort: return number(static_cast<int16_t>(load16le(at)));
        case kUShort: return number(load16le(at));
        case kDate: case kTime: case kLong: return number(static_cast<int32_t>(load32le(at)));
        case kULong: return number(load32le(at));
        case kSReal: return number(std::bit_cast<float>(load32le(at)));
        case kReal:
            return number(std::bit_cast<double>(uint64_t{load32le(at)} |
                                                uint64_t{load32le(at + 4)} << 32));
        case kDecimal:
            // The high half of the first byte is the sign (non-zero: negative), then the digits.
            if (width == 0) return std::nullopt;
            return number(packedValue(at, 1, 2 * width, (at[0] >> 4) != 0, field.places));
        case kPDecimal: {
            // The digits first, then the sign in the last half-byte (B or D: negative).
            if (width == 0) return std::nullopt;
            uint8_t sign = at[width - 1] & 0x0F;
            return number(packedValue(at, 0, 2 * width - 1, sign == 0x0B || sign == 0x0D,
                                      field.places));
        }
        case kString:
        case kGroup:
            return text(at, width);
        case kCString: {
            size_t length = 0;
            while (length < width && at[length] != 0) ++length;
            return text(at, length);
        }
        case kPString:
            // A length beyond the field's storage takes what the field holds.
            if (width == 0) return text(at, 0);
            return text(at + 1, std::min<uint64_t>(at[0], width - 1));
        default:
            return std::nullopt;
    }
}

bool isTrue(const Value& value) {
    return value.isText ? !trimTrailingBlanks(value.text).empty() : value.number != 0;
}

template <typename T>
bool holds(Relation relation, const T& left, const T& right) {
    switch (relation) {
        case Relation::equal: return left == right;
        case Relation::notEqual: return !(left == right);
        case Relation::less: return left < right;
        case Relation::greater: return left > right;
        case Relation::lessOrEqual: return left <= right;
        case Relation::greaterOrEqual: return left >= right;
    }
    return false;
}

std::optional<Value> compare(Relation relation, const Value& left, const Value& right) {
    if (left.isText && right.isText) {
        // string_view compares bytes as unsigned characters.
        return Value{false, holds(relation, trimTrailingBlanks(left.text),
                                  trimTrailingBlanks(right.text)) ? 1.0 : 0.0, {}};
    }
    std::optional<double> a = left.isText ? numberOf(left.text) : left.number;
    std::optional<double> b = right.isText ? numberOf(right.text) : right.number;
    if (!a || !b) return std::nullopt;
    return Value{false, holds(relation, *a, *b) ? 1.0 : 0.0, {}};
}

class ExpressionFilter : public CompiledFilter {
public:
    ExpressionFilter(Node root, std::vector<FilterVariable> variables)
        : root_(std::move(root)), variables_(std::move(variables)) {}

    int evaluate(std::span<const uint8_t> record) override {
        std::optional<Value> value = valueOf(root_, record);
        if (!value) return -1;
        return isTrue(*value) ? 1 : 0;
    }

private:
    std::optional<Value> valueOf(const Node& node, std::span<const uint8_t> record) const {
        switch (node.kind) {
            case NodeKind::number: return Value{false, node.number, {}};
            case NodeKind::text: return Value{true, 0, node.text};
            case NodeKind::variable: return readField(variables_[node.variable], record);
            case NodeKind::comparison: {
                std::optional<Value> left = valueOf(node.children[0], record);
                std::optional<Value> right = valueOf(node.children[1], record);
                if (!left || !right) return std::nullopt;
                return compare(node.relation, *left, *right);
            }
            case NodeKind::negation: {
                std::optional<Value> operand = valueOf(node.children[0], record);
                if (!operand) return std::nullopt;
                return Value{false, isTrue(*operand) ? 0.0 : 1.0, {}};
            }
            case NodeKind::all:
            case NodeKind::any: {
                // Every operand is evaluated, so that a record on which one cannot be read
                // fails whatever the others give.
                bool all = node.kind == NodeKind::all;
                bool result = all;
                for (const Node& child : node.children) {
                    std::optional<Value> operand = valueOf(child, record);
                    if (!operand) return std::nullopt;
                    result = all ? result && isTrue(*operand) : result || isTrue(*operand);
                }
                return Value{false, result ? 1.0 : 0.0, {}};
            }
        }
        return std::nullopt;
    }

    Node root_;
    std::vector<FilterVariable> variables_;
};

}  // namespace

std::unique_ptr<CompiledFilter> compileFilterText(std::string_view text,
                                                  std::span<const FilterVariable> variables,
                                                  int* error) {
    int ignored = 0;
    if (error == nullptr) error = &ignored;
    *error = kFilterSyntaxError;
    if (text.size() > kMaxFilterTextLength) return nullptr;
    std::vector<Token> tokens;
    if ((*error = tokenize(text, &tokens)) != 0) return nullptr;
    Parser parser(tokens, variables);
    Node root;
    if ((*error = parser.parse(&root)) != 0) return nullptr;
    return std::make_unique<ExpressionFilter>(std::move(root), parser.takeBound());
}

}  // namespace vellum
