#pragma once

#include "platform/Dialogs.h"

#include <deque>
#include <functional>
#include <initializer_list>
#include <vector>

namespace torvex::test {

// Answers message boxes from a queue and records every box shown. A box for
// which no answer is queued is unexpected: it is counted, handed to
// `unexpected` (by default a GoogleTest failure) and answered with its
// default button, so that the code under test can go on.
class ScriptedDialogs final : public platform::Dialogs {
public:
    using Unexpected = std::function<void(const platform::MessageBox&)>;
    explicit ScriptedDialogs(Unexpected unexpected = {}) : unexpected_(std::move(unexpected)) {}

    platform::Answer Show(const platform::MessageBox& box) override;

    void Queue(platform::Answer answer) { answers_.push_back(answer); }
    void Queue(std::initializer_list<platform::Answer> answers) {
        answers_.insert(answers_.end(), answers.begin(), answers.end());
    }
    const std::vector<platform::MessageBox>& Shown() const { return shown_; }
    std::size_t Pending() const { return answers_.size(); }
    // How many boxes came without a queued answer.
    int UnexpectedCount() const { return unexpectedCount_; }

private:
    Unexpected unexpected_;
    std::deque<platform::Answer> answers_;
    std::vector<platform::MessageBox> shown_;
    int unexpectedCount_ = 0;
};

} // namespace torvex::test
