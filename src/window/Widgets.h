#pragma once

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QTabBar>
#include <QWidget>

#include <functional>
#include <optional>

class QFrame;

// The Qt widgets under the window's controls, where a plain Qt widget does
// not behave as the window needs.
namespace torvex::window {

// A label that reports mouse clicks.
class ClickLabel final : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> clicked;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// Runs a callback when the focus moves into a widget (not when a dialog or a
// drop-down list hands the focus back), and another when a mouse button is
// released over it.
class FocusFilter final : public QObject {
public:
    FocusFilter(QObject* parent, std::function<void(Qt::FocusReason)> gotFocus,
                std::function<void()> released)
        : QObject(parent), gotFocus_(std::move(gotFocus)), released_(std::move(released)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(Qt::FocusReason)> gotFocus_;
    std::function<void()> released_;
};

// A drop-down list that asks before it drops down: `refuse` returning true
// keeps it closed.
class DropDownList final : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<bool()> refuse;
    void showPopup() override;
};

// A push button whose face is either the style's own (`face` empty) or one
// flat, solid colour.
class ColorButton final : public QPushButton {
public:
    using QPushButton::QPushButton;
    std::optional<QColor> face;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The tab strip: a row of tabs over the page that the machine's controls lie on.
class TabStripWidget final : public QWidget {
public:
    explicit TabStripWidget(QWidget* parent);
    QTabBar* bar;
    QFrame* page;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace torvex::window
