// Random texts for ReplaceSearchItem: the search without copies finds what
// the upper-cased copies find, and the result is the designed splice.
#include "platform/Dialogs.h"
#include "platform/Text.h"
#include "platform/database/FoldCase.h"
#include "presetdb/PresetGeneration.h"
#include "runtime/Runtime.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

class NoDialogs final : public torvex::platform::Dialogs {
public:
    torvex::platform::Answer Show(const torvex::platform::MessageBox&) override {
        return torvex::platform::Answer::Ok;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static NoDialogs dialogs;
    static torvex::runtime::Runtime rt(
        {"/EXTERNAL=SILENT", "/nonexistent/Torvex", "Torvex_Config", {1, 0, 1}, ""},
        {dialogs, "/dev/null", nullptr, {}});
    static const bool silent = rt.GetStartModeIntegrated() || true;
    static torvex::presetdb::PresetGeneration generation(rt);
    (void)silent;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto a = input.find('\0');
    const auto b = a == std::string_view::npos ? a : input.find('\0', a + 1);
    if (b == std::string_view::npos)
        return 0;
    const std::string_view source = input.substr(0, a), search = input.substr(a + 1, b - a - 1),
                           replace = input.substr(b + 1);
    const auto expected = torvex::platform::UpperCase(source).find(torvex::platform::UpperCase(search));
    if (torvex::platform::FindNoCase(source, search) != expected)
        std::abort();
    if (source.size() < 32000) {
        const std::string result = generation.ReplaceSearchItem(source, search, replace);
        const std::string splice = expected == std::string::npos
                                       ? std::string(source)
                                       : std::string(source.substr(0, expected)) + std::string(replace) +
                                             std::string(source.substr(expected + search.size()));
        if (result != splice)
            std::abort();
    }
    // Case folding is stable: folding a folded text changes nothing.
    if (torvex::platform::IsValidUtf8(source)) {
        const std::string folded = torvex::platform::db::FoldCase(source);
        if (torvex::platform::db::FoldCase(folded) != folded)
            std::abort();
    }
    return 0;
}
