#include "presetdb/PresetGeneration.h"
#include "runtime/Guard.h"

namespace torvex::presetdb {

// The additional-field list: an empty entry 0, "part", then the names of
// DataBaseAdditionalFields in their order, split at every comma.
std::optional<std::vector<std::string>> PresetGeneration::GetAdditionalFieldsMDB() {
    runtime::Guard guard(rt_, "GetAdditionalFieldsMDB");
    return guard.Value<std::optional<std::vector<std::string>>>(std::nullopt, [&] {
        std::vector<std::string> list{""};
        std::string v = rt_.LoadIniString("Project", "DataBaseAdditionalFields", rt_.GetCFGPath(), false);
        v = v.empty() ? "part" : "part," + v;
        for (;;) {
            rt_.ProcessEvents();
            const auto comma = v.find(',');
            list.push_back(v.substr(0, comma));
            if (comma == std::string::npos)
                break;
            v.erase(0, comma + 1);
        }
        return list;
    });
}

void PresetGeneration::GetAddFields() {
    runtime::Guard guard(rt_, "GetAddFields");
    guard([&] { additionalFields_ = GetAdditionalFieldsMDB(); });
    if (!additionalFields_)
        return;
    guard([&] { additionalFieldCount_ = platform::ToInt16(additionalFields_->size() - 1); });
}

} // namespace torvex::presetdb
