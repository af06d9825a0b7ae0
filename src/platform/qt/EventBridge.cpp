#include "platform/qt/EventBridge.h"

#include <QCoreApplication>

namespace torvex::platform {
namespace {

constexpr qint64 kEventIntervalMs = 15;

} // namespace

void EventBridge::Deliver(const std::function<void()>& handler) {
    if (end_)
        return;
    try {
        handler();
    } catch (const ProgramEnd& end) {
        end_ = end;
        QCoreApplication::exit(end.exitStatus);
    }
}

void EventBridge::ThrowIfEnded() const {
    if (end_)
        throw *end_;
}

void EventBridge::ProcessEvents() {
    if (sinceLast_.isValid() && sinceLast_.elapsed() < kEventIntervalMs)
        return;
    ProcessEventsNow();
}

void EventBridge::ProcessEventsNow() {
    QCoreApplication::processEvents();
    sinceLast_.start();
    ThrowIfEnded();
}

} // namespace torvex::platform
