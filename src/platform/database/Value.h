#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace torvex::platform::db {

// A date and time as the database stores it: "YYYY-MM-DD HH:MM:SS" text.
struct Date {
    std::string text;
    bool operator==(const Date&) const = default;
};

// A field value: null, text, whole number, number, Boolean or date.
using Value = std::variant<std::monostate, std::string, std::int64_t, double, bool, Date>;

// What a column holds, decided by the first keyword of its declared type.
enum class Kind { Text, Whole, Number, Boolean, Date };

// The kind of a declared column type: BOOLEAN, BIT, YESNO are Booleans; DATE,
// TIME dates; INT, SMALLINT, LONG, BYTE, COUNTER whole numbers; REAL, DOUBLE,
// FLOA, SINGLE, CURRENCY, NUMERIC, DECIMAL numbers; anything else text.
Kind KindOfDeclaredType(std::string_view declaredType);

// The size in parentheses of a declared type ("TEXT(50)" gives 50), 0 when none.
int SizeOfDeclaredType(std::string_view declaredType);

// The plain text form of a value ("" for null, "True"/"False", numbers in
// shortest decimal form with "." as separator).
std::string ValueText(const Value& value);

// Turns `value` into what a column of `kind` stores. Throws a Failure (13,
// type mismatch) when the value cannot be converted, as the engine refuses
// a text in a number column.
Value Coerce(Kind kind, const Value& value);

} // namespace torvex::platform::db
