#pragma once

#include "platform/Dialogs.h"
#include "platform/qt/EventBridge.h"

#include <string>
#include <string_view>

namespace torvex::platform {

// Message boxes as QMessageBox. The text arrives byte-exact; LF CR and
// CR LF become one line break for display only.
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(EventBridge& events) : events_(events) {}
    Answer Show(const MessageBox& box) override;

private:
    EventBridge& events_;
};

// The text of a box as it is displayed.
std::string DisplayText(std::string_view text);

} // namespace torvex::platform
