#pragma once

#include <string>

namespace torvex::importjet {

// The text "YYYY-MM-DD HH:MM:SS" of a Jet day number: days since 1899-12-30
// in the proleptic Gregorian calendar, the time of day as the fraction (for
// days before 1899-12-30 the fraction still counts forward from midnight).
std::string JetDateText(double days);

} // namespace torvex::importjet
