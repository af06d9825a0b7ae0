#pragma once

#include <string>
#include <string_view>

namespace torvex::platform::db {

// Name of the collation that every connection registers: text compared with
// letter case ignored for all letters ("Ä" equals "ä") and accents kept apart
// ("é" is not "e"), as the Jet engine compared text.
inline constexpr const char* kNoCaseCollation = "TORVEX_NOCASE";

// The Unicode case folding of a UTF-8 text. Two texts are equal under the
// collation exactly when their foldings are equal, so a folded text is the
// key for in-memory lookups that must agree with the engine.
std::string FoldCase(std::string_view text);

// Compares two UTF-8 texts as the collation does (<0, 0, >0).
int CompareNoCase(std::string_view a, std::string_view b);

} // namespace torvex::platform::db
