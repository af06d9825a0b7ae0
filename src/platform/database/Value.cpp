#include "platform/database/Value.h"

#include "platform/Failure.h"
#include "platform/Text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <optional>

namespace torvex::platform::db {
namespace {

struct KindWord {
    std::string_view word;
    Kind kind;
};

// Searched in this order, so that "DATETIME" is a date and "POINT" no whole number.
constexpr std::array<KindWord, 17> kKindWords = {{{"BOOLEAN", Kind::Boolean},
                                                  {"YESNO", Kind::Boolean},
                                                  {"BIT", Kind::Boolean},
                                                  {"DATE", Kind::Date},
                                                  {"TIME", Kind::Date},
                                                  {"SMALLINT", Kind::Whole},
                                                  {"COUNTER", Kind::Whole},
                                                  {"LONG", Kind::Whole},
                                                  {"BYTE", Kind::Whole},
                                                  {"INT", Kind::Whole},
                                                  {"REAL", Kind::Number},
                                                  {"DOUBLE", Kind::Number},
                                                  {"FLOA", Kind::Number},
                                                  {"SINGLE", Kind::Number},
                                                  {"CURRENCY", Kind::Number},
                                                  {"NUMERIC", Kind::Number},
                                                  {"DECIMAL", Kind::Number}}};

[[noreturn]] void Mismatch() {
    Raise(errnum::TypeMismatch, "Type mismatch");
}

std::optional<double> ParseNumber(std::string_view text) {
    text = TrimBlanks(text);
    double d = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return d;
}

} // namespace

Kind KindOfDeclaredType(std::string_view declaredType) {
    const std::string upper = UpperCase(declaredType);
    // The keyword that occurs first in the declaration decides.
    std::size_t best = std::string::npos;
    Kind kind = Kind::Text;
    for (const auto& [word, wordKind] : kKindWords) {
        const auto pos = upper.find(word);
        if (pos < best) {
            best = pos;
            kind = wordKind;
        }
    }
    return kind;
}

int SizeOfDeclaredType(std::string_view declaredType) {
    const auto open = declaredType.find('(');
    if (open == std::string_view::npos)
        return 0;
    int size = 0;
    const auto* first = declaredType.data() + open + 1;
    std::from_chars(first, declaredType.data() + declaredType.size(), size);
    return size;
}

std::string ValueText(const Value& value) {
    if (const auto* s = std::get_if<std::string>(&value))
        return *s;
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value)) {
        char buffer[64];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        return std::string(buffer, end);
    }
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "True" : "False";
    if (const auto* date = std::get_if<Date>(&value))
        return date->text;
    return {};
}

namespace {

// A value as a Boolean column stores it: numbers are true unless 0, texts
// "True"/"False" in any letter case or a number.
Value ToBoolean(const Value& value) {
    if (const auto* b = std::get_if<bool>(&value))
        return *b;
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return *i != 0;
    if (const auto* d = std::get_if<double>(&value))
        return *d != 0;
    if (const auto* s = std::get_if<std::string>(&value)) {
        const std::string u = UpperCase(TrimBlanks(*s));
        if (u == "TRUE" || u == "FALSE")
            return u == "TRUE";
        if (auto n = ParseNumber(*s))
            return *n != 0;
    }
    Mismatch();
}

// A value as a number column stores it: a Boolean is -1 or 0, a text must be
// a number; a whole-number column rounds, and overflows beyond 64 bits.
Value ToNumber(Kind kind, const Value& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return kind == Kind::Whole ? value : Value(static_cast<double>(*i));
    double d = 0;
    if (const auto* b = std::get_if<bool>(&value))
        d = *b ? -1 : 0;
    else if (const auto* dd = std::get_if<double>(&value))
        d = *dd;
    else if (auto n = std::holds_alternative<std::string>(value) ? ParseNumber(std::get<std::string>(value))
                                                                 : std::nullopt)
        d = *n;
    else
        Mismatch();
    if (kind == Kind::Number)
        return d;
    if (!std::isfinite(d) || std::abs(d) > 9.2e18)
        Raise(errnum::Overflow, "Overflow");
    return static_cast<std::int64_t>(std::llround(d));
}

} // namespace

Value Coerce(Kind kind, const Value& value) {
    if (std::holds_alternative<std::monostate>(value))
        return value;
    switch (kind) {
    case Kind::Text:
        return ValueText(value);
    case Kind::Date:
        if (std::holds_alternative<std::string>(value))
            return Date{std::get<std::string>(value)};
        return std::holds_alternative<Date>(value) ? value : Value(Date{ValueText(value)});
    case Kind::Boolean:
        return ToBoolean(value);
    case Kind::Whole:
    case Kind::Number:
        return ToNumber(kind, value);
    }
    Mismatch();
}

} // namespace torvex::platform::db
