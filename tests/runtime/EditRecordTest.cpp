#include "support/RuntimeFixture.h"

#include <gtest/gtest.h>

using namespace torvex;

namespace {

class EditRecord : public test::RuntimeFixture {};

TEST_F(EditRecord, WritesVersionModeAndEditorMark) {
    test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n");
    MakeRuntime().WriteEditInfo();
    // "Jo-Ann_Smith" without "-" and "_" is JoAnnSmith; every code plus 3 in hexadecimal.
    EXPECT_EQ(test::ReadFile(Cfg()),
              "[Project]\r\nForMachine1=true\r\n[Info]\r\nS_Prog=1.0.1 - Standalone\r\n"
              "S_Editor=4D7244717156706C776B\r\n");
    auto& rt = MakeRuntime("/EXTERNAL=HX5CFG");
    rt.GetStartModeIntegrated();
    rt.WriteEditInfo();
    EXPECT_NE(test::ReadFile(Cfg()).find("S_Prog=1.0.1 - Integrated\r\n"), std::string::npos);
}

TEST(EditorMark, SkipsDashesAndUnderscoresAndGrowsPastTwoDigits) {
    EXPECT_EQ(runtime::EditorMark("A=-_-"), "");
    EXPECT_EQ(runtime::EditorMark("A="), "");
    EXPECT_EQ(runtime::EditorMark("A=x=y"), "7B407C") << "only the first = separates the name";
    EXPECT_EQ(runtime::EditorMark("A=ÿ"), "102") << "code 255 plus the offset";
    EXPECT_EQ(runtime::EditorMark("A=ab").size(), 4u);
}

} // namespace
