#pragma once

#include <optional>
#include <string>

namespace torvex::platform {

enum class Buttons { Ok, YesNo };
enum class Icon { None, Critical, Exclamation, Information };
enum class Answer { Ok, Yes, No };

// One message box as the program asks for it. The text keeps its exact
// bytes (line breaks LF CR or CR LF); `title` empty means the platform's
// default title. `defaultButton` is 1 for the first button, 2 for the second.
struct MessageBox {
    std::string text;
    std::optional<std::string> title;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    int defaultButton = 1;
};

// Shows modal message boxes and returns the answer.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual Answer Show(const MessageBox& box) = 0;
};

// For runs without a window: every box is answered with its default button.
class DefaultAnswers final : public Dialogs {
public:
    Answer Show(const MessageBox& box) override {
        if (box.buttons == Buttons::Ok)
            return Answer::Ok;
        return box.defaultButton == 2 ? Answer::No : Answer::Yes;
    }
};

} // namespace torvex::platform
