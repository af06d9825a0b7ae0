#pragma once

#include "platform/qt/EventBridge.h"

#include <QColor>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTabBar;

namespace torvex::window {

// Places in the window design are in twips: 15 twips are one pixel at 96 dpi.
constexpr int Px(int twips) {
    return (twips + 7) / 15;
}

enum class ControlKind { Label, CommandButton, CheckBox, ComboBox, Image, Frame, TabStrip };

// The type name of a kind of control, in capitals ("LABEL", "CHECKBOX", ...).
std::string TypeName(ControlKind kind);

// One control of the window: its design name, control-array index (0 when
// it is no array member), Tag and info-text number, over a Qt widget.
// Handlers that Qt calls run through the event bridge.
class Control {
public:
    Control(std::string name, int index, ControlKind kind, std::string tag, int infoNumber, QWidget* widget,
            platform::EventBridge& events);
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& Name() const { return name_; }
    int Index() const { return index_; }
    ControlKind Kind() const { return kind_; }
    const std::string& Tag() const { return tag_; }
    int WhatsThisHelpID() const { return infoNumber_; }
    QWidget* Widget() const { return widget_; }

    // The caption of a label, button or check box; a failure for other kinds.
    virtual std::string Caption() const;
    virtual void SetCaption(const std::string& caption);
    std::string ToolTipText() const;
    void SetToolTipText(const std::string& text);
    // The control's own Visible flag (a control inside a hidden frame keeps it).
    bool Visible() const;
    void SetVisible(bool visible);
    bool Enabled() const;
    void SetEnabled(bool enabled);

    // Raised when the user clicks the control (and by value changes, see below).
    std::function<void()> OnClick;

protected:
    void RaiseFromQt(const std::function<void()>& handler);
    void Raise(const std::function<void()>& handler) const {
        if (handler)
            handler();
    }

private:
    std::string name_;
    int index_;
    ControlKind kind_;
    std::string tag_;
    int infoNumber_;
    QWidget* widget_;
    platform::EventBridge& events_;
};

// A label: clickable, with a caption.
class LabelControl final : public Control {
public:
    LabelControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                 platform::EventBridge& events);
    std::string Caption() const override;
    void SetCaption(const std::string& caption) override;
    QLabel* Label() const;
    // While set, a caption too long for the label is shown on one line in a
    // smaller font, down to `minimumPoints`, and cut with "..." beyond that;
    // the tool tip then holds the whole caption. The label's font at the time
    // of the call is the largest one.
    void FitCaption(bool fit, double minimumPoints = 0);

private:
    void ShowCaption();
    std::string caption_;
    bool fit_ = false;
    double minimumPoints_ = 0;
    double largestPoints_ = 0;
};

// A check box whose Value is 0 (clear), 1 (ticked) or 2 (greyed). Setting a
// different value from code runs OnClick at once, inside the setting call;
// the same value runs nothing.
class CheckBoxControl final : public Control {
public:
    CheckBoxControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                    platform::EventBridge& events);
    int Value() const { return value_; }
    void SetValue(int value);
    std::string Caption() const override;
    void SetCaption(const std::string& caption) override;
    // What a user's click does: toggles the value and raises OnClick.
    void UserClick();

private:
    void Clicked();
    QCheckBox* box_;
    int value_ = 0;
};

// A drop-down list. Setting ListIndex from code to another entry runs
// OnClick at once; an index without an entry is a failure (380) that leaves
// the selection alone. OnGotFocus runs when the user moves the focus to it.
class ComboControl final : public Control {
public:
    ComboControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                 platform::EventBridge& events);
    void AddItem(const std::string& text);
    int ListCount() const;
    int ListIndex() const;
    void SetListIndex(int index);
    std::string Text() const;
    // What a user's choice of entry `index` does.
    void UserChoose(int index);
    // While set, the list never drops down: what would open it raises
    // OnClick instead, except for the mouse click that brought the focus,
    // whose OnGotFocus has already run.
    void SetExplainOnly(bool explainOnly) { explainOnly_ = explainOnly; }

    std::function<void()> OnGotFocus;

private:
    bool DropDownRefused();
    QComboBox* combo_;
    bool explainOnly_ = false;
    bool focusByMouse_ = false;
};

// A picture box showing a GIF file; clickable.
class ImageControl final : public Control {
public:
    ImageControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                 platform::EventBridge& events);
    // Loads a picture file; a failure (53) when it cannot be read.
    void LoadPicture(const std::string& path);
    // Shows no picture.
    void ClearPicture();
    const std::string& PicturePath() const { return picture_; }

private:
    QLabel* label_;
    std::string picture_;
};

// A button with a picture and a background colour (empty: the style's own
// button face). A colour is painted as one flat, solid face.
class ButtonControl final : public Control {
public:
    ButtonControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                  platform::EventBridge& events);
    void SetPicture(const QString& resource);
    std::optional<QColor> BackColor() const { return backColor_; }
    void SetBackColor(std::optional<QColor> color);
    std::string Caption() const override;
    void SetCaption(const std::string& caption) override;
    void UserClick();

private:
    QPushButton* button_;
    std::optional<QColor> backColor_;
};

// A frame without caption, holding other controls.
class FrameControl final : public Control {
public:
    FrameControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                 platform::EventBridge& events);
};

// The machine tab strip. Positions are 1-based. Selecting a tab (by the user
// or by code) raises OnClick; adding and removing tabs does not.
class TabStripControl final : public Control {
public:
    TabStripControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                    platform::EventBridge& events);
    void RemoveTab(int position);
    void AddTab(const std::string& caption);
    int TabCount() const;
    void SelectTab(int position);
    // Position of the selected tab; a failure when there is none.
    int SelectedPosition() const;
    std::string SelectedCaption() const;
    QTabBar* Bar() const { return bar_; }

private:
    QTabBar* bar_;
};

} // namespace torvex::window
