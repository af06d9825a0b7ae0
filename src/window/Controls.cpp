#include "window/Controls.h"

#include "platform/Failure.h"
#include "window/Widgets.h"

#include <QCheckBox>
#include <QFontMetricsF>
#include <QPixmap>
#include <QTabBar>

#include <utility>

namespace torvex::window {
namespace {

[[noreturn]] void NoSuchProperty() {
    platform::Raise(platform::errnum::NoSuchProperty, "Object doesn't support this property or method");
}

} // namespace

std::string TypeName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Label:
        return "LABEL";
    case ControlKind::CommandButton:
        return "COMMANDBUTTON";
    case ControlKind::CheckBox:
        return "CHECKBOX";
    case ControlKind::ComboBox:
        return "COMBOBOX";
    case ControlKind::Image:
        return "IMAGE";
    case ControlKind::Frame:
        return "FRAME";
    case ControlKind::TabStrip:
        return "TABSTRIP";
    }
    return "CONTROL";
}

Control::Control(std::string name, int index, ControlKind kind, std::string tag, int infoNumber,
                 QWidget* widget, platform::EventBridge& events)
    : name_(std::move(name)), index_(index), kind_(kind), tag_(std::move(tag)), infoNumber_(infoNumber),
      widget_(widget), events_(events) {
    widget_->setObjectName(QString::fromStdString(index_ ? name_ + "_" + std::to_string(index_) : name_));
}

std::string Control::Caption() const {
    NoSuchProperty();
}
void Control::SetCaption(const std::string&) {
    NoSuchProperty();
}
std::string Control::ToolTipText() const {
    return widget_->toolTip().toStdString();
}
void Control::SetToolTipText(const std::string& text) {
    widget_->setToolTip(QString::fromStdString(text));
}
bool Control::Visible() const {
    return !widget_->isHidden();
}
void Control::SetVisible(bool visible) {
    widget_->setVisible(visible);
}
bool Control::Enabled() const {
    return widget_->isEnabled();
}
void Control::SetEnabled(bool enabled) {
    widget_->setEnabled(enabled);
}

void Control::RaiseFromQt(const std::function<void()>& handler) {
    events_.Deliver([&] { Raise(handler); });
}

LabelControl::LabelControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                           platform::EventBridge& events)
    : Control(std::move(name), index, ControlKind::Label, std::move(tag), infoNumber, new ClickLabel(parent),
              events) {
    auto* label = static_cast<ClickLabel*>(Widget());
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->clicked = [this] { RaiseFromQt(OnClick); };
}

QLabel* LabelControl::Label() const {
    return static_cast<QLabel*>(Widget());
}
std::string LabelControl::Caption() const {
    return caption_;
}
void LabelControl::SetCaption(const std::string& caption) {
    caption_ = caption;
    ShowCaption();
}

void LabelControl::FitCaption(bool fit, double minimumPoints) {
    fit_ = fit;
    minimumPoints_ = minimumPoints;
    largestPoints_ = Label()->font().pointSizeF();
    if (fit)
        Label()->setWordWrap(false);
    ShowCaption();
}

void LabelControl::ShowCaption() {
    QLabel* label = Label();
    const QString full = QString::fromStdString(caption_);
    if (!fit_) {
        label->setText(full);
        return;
    }
    const int width = label->contentsRect().width();
    QFont font = label->font();
    font.setPointSizeF(largestPoints_);
    while (font.pointSizeF() - 1 >= minimumPoints_ && QFontMetricsF(font).horizontalAdvance(full) > width)
        font.setPointSizeF(font.pointSizeF() - 1);
    label->setFont(font);
    const QString shown = QFontMetrics(font).elidedText(full, Qt::ElideRight, width);
    label->setText(shown);
    label->setToolTip(shown == full ? QString() : full);
}

CheckBoxControl::CheckBoxControl(std::string name, int index, std::string tag, int infoNumber,
                                 QWidget* parent, platform::EventBridge& events)
    : Control(std::move(name), index, ControlKind::CheckBox, std::move(tag), infoNumber,
              new QCheckBox(parent), events),
      box_(static_cast<QCheckBox*>(Widget())) {
    QObject::connect(box_, &QCheckBox::clicked, box_, [this] { RaiseFromQt([this] { Clicked(); }); });
}

void CheckBoxControl::Clicked() {
    // The user's click has already toggled the box when Qt reports it.
    value_ = box_->checkState() == Qt::Checked ? 1 : 0;
    Raise(OnClick);
}

void CheckBoxControl::UserClick() {
    {
        const QSignalBlocker block(box_);
        box_->setCheckState(value_ == 1 ? Qt::Unchecked : Qt::Checked);
    }
    Clicked();
}

void CheckBoxControl::SetValue(int value) {
    if (value < 0 || value > 2)
        platform::Raise(platform::errnum::InvalidPropertyValue, "Invalid property value");
    if (value == value_)
        return;
    value_ = value;
    const QSignalBlocker block(box_);
    box_->setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
    Raise(OnClick);
}

std::string CheckBoxControl::Caption() const {
    return box_->text().toStdString();
}
void CheckBoxControl::SetCaption(const std::string& caption) {
    box_->setText(QString::fromStdString(caption));
}

ComboControl::ComboControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                           platform::EventBridge& events)
    : Control(std::move(name), index, ControlKind::ComboBox, std::move(tag), infoNumber,
              new DropDownList(parent), events),
      combo_(static_cast<QComboBox*>(Widget())) {
    combo_->setEditable(false);
    QObject::connect(combo_, &QComboBox::activated, combo_,
                     [this](int chosen) { RaiseFromQt([this, chosen] { UserChoose(chosen); }); });
    static_cast<DropDownList*>(combo_)->refuse = [this] { return DropDownRefused(); };
    combo_->installEventFilter(new FocusFilter(
        combo_,
        [this](Qt::FocusReason reason) {
            focusByMouse_ = explainOnly_ && reason == Qt::MouseFocusReason;
            RaiseFromQt(OnGotFocus);
        },
        [this] { focusByMouse_ = false; }));
}

bool ComboControl::DropDownRefused() {
    if (!explainOnly_)
        return false;
    // The press that brought the focus has been answered by OnGotFocus (a
    // message box that the user has closed meanwhile): it opens nothing more.
    if (!std::exchange(focusByMouse_, false))
        RaiseFromQt(OnClick);
    return true;
}

void ComboControl::AddItem(const std::string& text) {
    const QSignalBlocker block(combo_);
    const int current = combo_->currentIndex();
    combo_->addItem(QString::fromStdString(text));
    combo_->setCurrentIndex(current); // adding never selects an entry
}

int ComboControl::ListCount() const {
    return combo_->count();
}
int ComboControl::ListIndex() const {
    return combo_->currentIndex();
}
std::string ComboControl::Text() const {
    return combo_->currentText().toStdString();
}

void ComboControl::SetListIndex(int index) {
    if (index < -1 || index >= combo_->count())
        platform::Raise(platform::errnum::InvalidPropertyValue, "Invalid property value");
    if (index == combo_->currentIndex())
        return;
    {
        const QSignalBlocker block(combo_);
        combo_->setCurrentIndex(index);
    }
    Raise(OnClick);
}

void ComboControl::UserChoose(int index) {
    {
        const QSignalBlocker block(combo_);
        combo_->setCurrentIndex(index);
    }
    Raise(OnClick);
}

ImageControl::ImageControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                           platform::EventBridge& events)
    : Control(std::move(name), index, ControlKind::Image, std::move(tag), infoNumber, new ClickLabel(parent),
              events),
      label_(static_cast<QLabel*>(Widget())) {
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    static_cast<ClickLabel*>(label_)->clicked = [this] { RaiseFromQt(OnClick); };
}

void ImageControl::LoadPicture(const std::string& path) {
    QPixmap pixmap;
    if (!pixmap.load(QString::fromStdString(path)))
        platform::Raise(platform::errnum::FileNotFound, "File not found: " + path);
    label_->setPixmap(pixmap);
    picture_ = path;
}

void ImageControl::ClearPicture() {
    label_->clear();
    picture_.clear();
}

ButtonControl::ButtonControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                             platform::EventBridge& events)
    : Control(std::move(name), index, ControlKind::CommandButton, std::move(tag), infoNumber,
              new ColorButton(parent), events),
      button_(static_cast<QPushButton*>(Widget())) {
    // No button of the window answers the Return key of another control.
    button_->setAutoDefault(false);
    button_->setDefault(false);
    QObject::connect(button_, &QPushButton::clicked, button_, [this] { RaiseFromQt(OnClick); });
}

void ButtonControl::UserClick() {
    Raise(OnClick);
}

void ButtonControl::SetPicture(const QString& resource) {
    const QPixmap pixmap(resource);
    button_->setIcon(pixmap);
    button_->setIconSize(pixmap.size());
}

void ButtonControl::SetBackColor(std::optional<QColor> color) {
    backColor_ = color;
    static_cast<ColorButton*>(button_)->face = color;
    button_->update();
}

std::string ButtonControl::Caption() const {
    return button_->text().toStdString();
}
void ButtonControl::SetCaption(const std::string& caption) {
    button_->setText(QString::fromStdString(caption));
}

FrameControl::FrameControl(std::string name, int index, std::string tag, int infoNumber, QWidget* parent,
                           platform::EventBridge& events)
    : Control(std::move(name), index, ControlKind::Frame, std::move(tag), infoNumber, new QFrame(parent),
              events) {
    auto* frame = static_cast<QFrame*>(Widget());
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
}

TabStripControl::TabStripControl(std::string name, int index, std::string tag, int infoNumber,
                                 QWidget* parent, platform::EventBridge& events)
    : Control(std::move(name), index, ControlKind::TabStrip, std::move(tag), infoNumber,
              new TabStripWidget(parent), events),
      bar_(static_cast<TabStripWidget*>(Widget())->bar) {
    bar_->setExpanding(false);
    // A click on a tab takes the focus, so that no control of the page is
    // focused while the page is redrawn for the machine chosen.
    bar_->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(bar_, &QTabBar::currentChanged, bar_, [this](int) { RaiseFromQt(OnClick); });
}

void TabStripControl::RemoveTab(int position) {
    if (position < 1 || position > bar_->count())
        platform::Raise(platform::errnum::IndexOutOfBounds, "Index out of bounds");
    const QSignalBlocker block(bar_);
    bar_->removeTab(position - 1);
}

void TabStripControl::AddTab(const std::string& caption) {
    const QSignalBlocker block(bar_);
    bar_->addTab(QString::fromStdString(caption));
}

int TabStripControl::TabCount() const {
    return bar_->count();
}

void TabStripControl::SelectTab(int position) {
    if (position < 1 || position > bar_->count())
        platform::Raise(platform::errnum::IndexOutOfBounds, "Index out of bounds");
    bar_->setCurrentIndex(position - 1);
}

int TabStripControl::SelectedPosition() const {
    if (bar_->currentIndex() < 0)
        platform::Raise(platform::errnum::ObjectNotSet, "Object variable or With block variable not set");
    return bar_->currentIndex() + 1;
}

std::string TabStripControl::SelectedCaption() const {
    return bar_->tabText(SelectedPosition() - 1).toStdString();
}

} // namespace torvex::window
