#include "support/SamplePictures.h"

#include "support/TempDir.h"

namespace torvex::test {

void CopySamplePictures(const std::string& p) {
    const std::string pictures = TORVEX_SOURCE_DIR "/sample/pictures/";
    for (const char* name :
         {"Material_1_800.gif", "Material_2_800.gif", "Material_3_800.gif", "Empty_800.gif"})
        WriteFile(p + "/Standard/" + name, ReadFile(pictures + name));
    for (const char* name : {"Torvex_BobbinSymbol_1_800.gif", "Torvex_BobbinSymbol_2_800.gif"})
        WriteFile(p + "/Torvex/" + name, ReadFile(pictures + name));
}

} // namespace torvex::test
