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

std::string ConfigWindow::GetLanguage() {
    runtime::Guard guard(rt_, "GetLanguage");
    return guard.Value("", [&] {
        const std::string language = rt_.LoadIniString("Language", "Language", rt_.LanguageFilePath(), false);
        if (!language.empty())
            return language;
        (void)rt_.SaveIni(std::string(kDesignLanguage), "Language", "Language", rt_.LanguageFilePath());
        return std::string(kDesignLanguage);
    });
}

namespace {

// The key part that names `control` in the language file: its name, its
// index when other controls share the name, "_" and its Tag.
std::string TextId(const Control& control, const std::vector<std::unique_ptr<Control>>& controls) {
    int sameName = 0;
    for (const auto& other : controls)
        sameName += other->Name() == control.Name() ? 1 : 0;
    return control.Name() + (sameName > 1 ? std::to_string(control.Index()) : "") + "_" + control.Tag();
}

// The text of `key` in the language's section; when it has none ("" or
// "0"), `seed` is written in its place, so that the file lists the key.
std::string LoadOrSeed(runtime::Runtime& rt, const std::string& file, const std::string& language,
                       const std::string& key, const std::string& seed) {
    std::string text = rt.LoadIniString(language, key, file, false);
    if (NoText(text))
        (void)rt.SaveIni(seed, language, key, file); // the step's commit tells whether it was written
    return text;
}

} // namespace

// Puts the captions and tool tips of the configured language on the
// controls, keeps the info texts, and writes every key it does not find back
// to the language file, so that the file lists everything to translate.
void ConfigWindow::LoadToolTipTexts() {
    const std::string file = rt_.LanguageFilePath();
    // The file is read and seeded in one step: it is written once, and only
    // when a key was missing. Whether that write succeeds is not looked at: a
    // read-only language file simply stays unseeded.
    runtime::IniStep step(rt_, file);
    step.Begin();
    const std::string language = GetLanguage();
    for (const auto& control : controls_) {
        // Not the guard: a control whose texts cannot be read or set keeps
        // what it had, and nothing is reported.
        try {
            LoadTextsOf(*control, language, file);
        } catch (const std::exception&) {
        }
    }
    (void)step.Commit();
}

// The caption, info text and tool tip of one control: a label, button or
// check box gets its caption (seeded with the design caption in the design
// language) and keeps its info text; every control without "NoTTT" in its
// Tag gets its tool tip.
void ConfigWindow::LoadTextsOf(Control& control, const std::string& language, const std::string& file) {
    const std::string id = TextId(control, controls_);
    const std::string type = TypeName(control.Kind());
    if (type == "LABEL" || type == "COMMANDBUTTON" || type == "CHECKBOX") {
        const std::string seed = language == kDesignLanguage ? control.Caption() : std::string("0");
        const std::string caption = LoadOrSeed(rt_, file, language, "Caption_" + id, seed);
        if (!NoText(caption))
            control.SetCaption(caption);
        if (const int n = control.WhatsThisHelpID(); n != 0) {
            std::string& text = infoTexts_.at(static_cast<std::size_t>(n - 1));
            text = LoadOrSeed(rt_, file, language, "Help" + std::to_string(n), "0");
        }
    }
    if (platform::UpperCase(control.Tag()).find("NOTTT") == std::string::npos) {
        const std::string tip = LoadOrSeed(rt_, file, language, "TTT_" + id, "0");
        if (!NoText(tip))
            control.SetToolTipText(tip);
    }
}

void ConfigWindow::ShowInfoText(const Control& control) {
    if (!infoMode_)
        return;
    // A control without an info text shows an empty box.
    const int number = control.WhatsThisHelpID();
    std::string text = number >= 1 && static_cast<std::size_t>(number) <= infoTexts_.size()
                           ? infoTexts_[static_cast<std::size_t>(number - 1)]
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
    if (!infoMode_)
        return;
    if (infoClickGuard_) {
        infoClickGuard_ = false;
        return;
    }
    infoClickGuard_ = true;
    box.SetValue(box.Value() != 0 ? 0 : 1); // undoes the user's click; its click event returns above
    ShowInfoText(box);
}

} // namespace torvex::window
