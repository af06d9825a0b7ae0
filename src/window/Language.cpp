#include "platform/Text.h"
#include "runtime/Guard.h"
#include "window/ConfigWindow.h"

namespace torvex::window {

namespace {

constexpr const char* kDesignLanguage = "1031";

bool NoText(const std::string& value) {
    return value.empty() || value == "0";
}

} // namespace

std::string ConfigWindow::LanguageFilePath() const {
    const auto& id = rt_.Identity();
    return id.programFolder + "/" + id.programFileName + ".ini";
}

std::string ConfigWindow::GetLanguage() {
    runtime::Guard guard(rt_, "GetLanguage");
    return guard.Value("", [&] {
        const std::string language = rt_.LoadIniString("Language", "Language", LanguageFilePath(), false);
        if (!language.empty())
            return language;
        (void)rt_.SaveIni(std::string(kDesignLanguage), "Language", "Language", LanguageFilePath());
        return std::string(kDesignLanguage);
    });
}

// Puts the captions and tool tips of the configured language on the
// controls, keeps the info texts, and writes every key it does not find back
// to the language file, so that the file lists everything to translate.
void ConfigWindow::LoadToolTipTexts() {
    const std::string file = LanguageFilePath();
    // The file is read and seeded in one step: it is written once, and only
    // when a key was missing. Whether that write succeeds is not looked at: a
    // read-only language file simply stays unseeded.
    runtime::IniStep step(rt_, file);
    step.Begin();
    const std::string language = GetLanguage();
    for (const auto& control : controls_) {
        int sameName = 0;
        for (const auto& other : controls_)
            sameName += other->Name() == control->Name() ? 1 : 0;
        const std::string id =
            control->Name() + (sameName > 1 ? std::to_string(control->Index()) : "") + "_" + control->Tag();
        try {
            const std::string type = TypeName(control->Kind());
            if (type == "LABEL" || type == "COMMANDBUTTON" || type == "CHECKBOX") {
                const std::string key = "Caption_" + id;
                const std::string caption = rt_.LoadIniString(language, key, file, false);
                if (!NoText(caption))
                    control->SetCaption(caption);
                else
                    rt_.SaveIni(language == kDesignLanguage ? control->Caption() : std::string("0"), language,
                                key, file);
                const int n = control->WhatsThisHelpID();
                if (n != 0) {
                    const std::string helpKey = "Help" + std::to_string(n);
                    std::string& text = InfoTexts.at(static_cast<std::size_t>(n - 1));
                    text = rt_.LoadIniString(language, helpKey, file, false);
                    if (NoText(text))
                        rt_.SaveIni(std::string("0"), language, helpKey, file);
                }
            }
            if (platform::UpperCase(control->Tag()).find("NOTTT") == std::string::npos) {
                const std::string key = "TTT_" + id;
                const std::string tip = rt_.LoadIniString(language, key, file, false);
                if (!NoText(tip))
                    control->SetToolTipText(tip);
                else
                    rt_.SaveIni(std::string("0"), language, key, file);
            }
        } catch (const std::exception&) {
            // A control whose texts cannot be read or set keeps what it had.
        }
    }
    (void)step.Commit();
}

void ConfigWindow::ShowInfoText(const Control& control) {
    if (!InfoMode)
        return;
    // A control without an info text shows an empty box.
    const int number = control.WhatsThisHelpID();
    std::string text = number >= 1 && static_cast<std::size_t>(number) <= InfoTexts.size()
                           ? InfoTexts[static_cast<std::size_t>(number - 1)]
                           : "";
    std::string shown;
    for (;;) {
        const auto marker = platform::UpperCase(text).find("<CRLF>");
        if (marker == std::string::npos)
            break;
        shown += text.substr(0, marker) + "\r\n";
        text.erase(0, marker + 6);
    }
    shown += text;
    rt_.ShowMessage({shown, "Info:", platform::Buttons::Ok, platform::Icon::Information, 1});
}

void ConfigWindow::ShowCheckBoxInfo(CheckBoxControl& box) {
    if (!InfoMode)
        return;
    if (InfoClickGuard) {
        InfoClickGuard = false;
        return;
    }
    InfoClickGuard = true;
    box.SetValue(box.Value() != 0 ? 0 : 1); // undoes the user's click; its click event returns above
    ShowInfoText(box);
}

} // namespace torvex::window
