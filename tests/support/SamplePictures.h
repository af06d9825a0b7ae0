#pragma once

#include <string>

namespace torvex::test {

// Copies the demo plant's pictures into the installation folder `p`: three
// material pictures and Empty_800.gif to P/Standard, two bobbin symbols to
// P/Torvex.
void CopySamplePictures(const std::string& p);

} // namespace torvex::test
