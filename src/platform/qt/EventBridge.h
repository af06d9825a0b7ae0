#pragma once

#include "platform/ProgramEnd.h"

#include <QElapsedTimer>

#include <functional>
#include <optional>

namespace torvex::platform {

// The bridge between Qt's event loop and the program's own code. A program
// end raised inside a handler that Qt called cannot unwind through Qt: it is
// kept, every event loop is told to exit, and ThrowIfEnded raises it again
// once control is back in the program's own code.
class EventBridge {
public:
    // Runs a handler that Qt called. Once the program is ending, none runs.
    void Deliver(const std::function<void()>& handler);

    // Raises the program end that a handler asked for, if any.
    void ThrowIfEnded() const;
    bool Ended() const { return end_.has_value(); }
    int ExitStatus() const { return end_ ? end_->exitStatus : 0; }

    // Lets the window handle pending events, at most once every few
    // milliseconds, so that long loops stay responsive without paying for
    // it on every row.
    void ProcessEvents();
    // Lets the window handle the events that are waiting now, once.
    void ProcessEventsNow();

private:
    std::optional<ProgramEnd> end_;
    QElapsedTimer sinceLast_;
};

} // namespace torvex::platform
