#include "support/ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace torvex::test {

platform::Answer ScriptedDialogs::Show(const platform::MessageBox& box) {
    shown_.push_back(box);
    if (answers_.empty()) {
        ++unexpectedCount_;
        if (unexpected_)
            unexpected_(box);
        else
            ADD_FAILURE() << "unexpected message box: " << box.title.value_or("") << ": " << box.text;
        if (box.buttons == platform::Buttons::Ok)
            return platform::Answer::Ok;
        return box.defaultButton == 1 ? platform::Answer::Yes : platform::Answer::No;
    }
    const platform::Answer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

} // namespace torvex::test
