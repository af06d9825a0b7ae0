#pragma once

#include "platform/Dialogs.h"

#include <deque>
#include <vector>

namespace torvex::test {

// Answers message boxes from a queue and records every box shown. A box for
// which no answer is queued fails the test (and is answered with its default
// button, so that the code under test can go on).
class ScriptedDialogs final : public platform::Dialogs {
public:
    platform::Answer Show(const platform::MessageBox& box) override;

    void Queue(platform::Answer answer) { answers_.push_back(answer); }
    const std::vector<platform::MessageBox>& Shown() const { return shown_; }
    std::size_t Pending() const { return answers_.size(); }

private:
    std::deque<platform::Answer> answers_;
    std::vector<platform::MessageBox> shown_;
};

} // namespace torvex::test
