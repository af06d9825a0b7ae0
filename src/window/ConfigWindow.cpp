#include "window/ConfigWindow.h"

#include "platform/Failure.h"
#include "runtime/Guard.h"
#include "window/ControlTable.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QTabBar>

#include <map>
#include <stdexcept>

// The button pictures are built into the window library.
static void InitWindowResources() {
    Q_INIT_RESOURCE(window);
}

namespace torvex::window {

ConfigWindow::ConfigWindow(runtime::Runtime& runtime, platform::EventBridge& events)
    : QWidget(nullptr), rt_(runtime), events_(events) {
    InitWindowResources();
    setObjectName("Torvex_Config");
    setWindowTitle("Base HX5CFG-Erweiterung");
    setFixedSize(Px(kWindowWidth), Px(kWindowHeight));
    BuildControls();
    ConnectHandlers();
}

ConfigWindow::~ConfigWindow() = default;

void UseDesignFont() {
    QFont::insertSubstitution(kDesignFontFamily, "Liberation Sans");
    QFont font = QApplication::font();
    font.setFamily(kDesignFontFamily);
    QApplication::setFont(font);
}

namespace {

template <class T>
std::unique_ptr<Control> Make(const ControlDesign& design, QWidget* parent, platform::EventBridge& events) {
    return std::make_unique<T>(design.name, design.index, design.tag, design.info, parent, events);
}

std::unique_ptr<Control> MakeControl(const ControlDesign& design, QWidget* parent,
                                     platform::EventBridge& events) {
    switch (design.kind) {
    case ControlKind::Label:
        return Make<LabelControl>(design, parent, events);
    case ControlKind::CheckBox:
        return Make<CheckBoxControl>(design, parent, events);
    case ControlKind::ComboBox:
        return Make<ComboControl>(design, parent, events);
    case ControlKind::Image:
        return Make<ImageControl>(design, parent, events);
    case ControlKind::CommandButton:
        return Make<ButtonControl>(design, parent, events);
    case ControlKind::Frame:
        return Make<FrameControl>(design, parent, events);
    case ControlKind::TabStrip:
        return Make<TabStripControl>(design, parent, events);
    }
    throw std::logic_error("unknown control kind");
}

} // namespace

void ConfigWindow::BuildControls() {
    std::map<std::pair<std::string, int>, QWidget*> containers;
    for (const ControlDesign& design : WindowControls()) {
        QWidget* parent = *design.parent ? containers.at({design.parent, design.parentIndex}) : this;
        std::unique_ptr<Control> control = MakeControl(design, parent, events_);
        QWidget* w = control->Widget();
        w->setGeometry(Px(design.left), Px(design.top), Px(design.width), Px(design.height));
        QFont font(kDesignFontFamily);
        font.setPointSizeF(design.points);
        font.setBold(true);
        w->setFont(font);
        if (*design.caption)
            control->SetCaption(design.caption);
        w->setVisible(design.visible);
        if (design.kind == ControlKind::Frame)
            containers[{design.name, design.index}] = w;
        controls_.push_back(std::move(control));
    }
    auto& tabs = Get<TabStripControl>("TabStripMachine");
    tabs.AddTab("Tab1");
    tabs.Widget()->lower();
    Get<ButtonControl>("CommandQuest").SetPicture(":/torvex/quest.gif");
    Get<ButtonControl>("CommandOK").SetPicture(":/torvex/ok.gif");
    Get<ButtonControl>("CommandCancel").SetPicture(":/torvex/cancel.gif");
    Get<ButtonControl>("CommandOK").SetEnabled(false);
    Get<LabelControl>("LabelMachine").FitCaption(true, 12);
    SetTabOrder();
}

// The keyboard goes through the page first (the bobbin changer, then the
// bobbin columns one after the other, each from top to bottom), then to the
// buttons ?, OK and Cancel, and last to the machine tabs. The window starts
// with the focus on the first control of the page.
void ConfigWindow::SetTabOrder() {
    std::vector<QWidget*> order = {Find("CheckBobbinChange").Widget()};
    for (int c = 1; c <= 4; ++c)
        for (const char* name :
             {"CheckBobbinOk", "CheckBlank", "CheckTensionArmWithoutSplicePosition", "CheckWithoutBobbin",
              "CheckWithoutTensionArm", "CheckOnlyBlank", "ComboMaterial", "ComboSymbol"})
            order.push_back(Find(name, c).Widget());
    for (const char* name : {"CommandQuest", "CommandOK", "CommandCancel"})
        order.push_back(Find(name).Widget());
    order.push_back(Get<TabStripControl>("TabStripMachine").Bar());
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    order.front()->setFocus();
}

void ConfigWindow::ConnectHandlers() {
    Get<CheckBoxControl>("CheckBobbinChange").OnClick = [this] { CheckBobbinChange_Click(); };
    for (int c = 1; c <= 4; ++c) {
        Get<CheckBoxControl>("CheckBobbinOk", c).OnClick = [this, c] { CheckBobbinOk_Click(c); };
        Get<CheckBoxControl>("CheckBlank", c).OnClick = [this, c] { CheckBlank_Click(c); };
        Get<CheckBoxControl>("CheckTensionArmWithoutSplicePosition", c).OnClick = [this, c] {
            CheckTensionArmWithoutSplicePosition_Click(c);
        };
        Get<CheckBoxControl>("CheckWithoutBobbin", c).OnClick = [this, c] { CheckWithoutBobbin_Click(c); };
        Get<CheckBoxControl>("CheckWithoutTensionArm", c).OnClick = [this, c] {
            CheckWithoutTensionArm_Click(c);
        };
        Get<CheckBoxControl>("CheckOnlyBlank", c).OnClick = [this, c] { CheckOnlyBlank_Click(c); };
        auto& material = Get<ComboControl>("ComboMaterial", c);
        material.OnClick = [this, c] { ComboMaterial_Click(c); };
        material.OnGotFocus = [this, c] { ComboMaterial_GotFocus(c); };
        auto& symbol = Get<ComboControl>("ComboSymbol", c);
        symbol.OnClick = [this, c] { ComboSymbol_Click(c); };
        symbol.OnGotFocus = [this, c] { ComboSymbol_GotFocus(c); };
        for (const char* image : {"ImageMaterial", "ImageSymbol"}) {
            Control& picture = Find(image, c);
            picture.OnClick = [this, &picture] { ShowInfoText(picture); };
        }
    }
    // Row labels only explain: a click shows the info text in info mode.
    for (const char* label :
         {"LabelBobineVorhanden", "LabelCheckBlank", "LabelTensionArmWithoutSplicePosition",
          "LabelWithoutBobbin", "LabelWithoutTensionArm", "LabelOnlyBlank", "LabelMaterial", "LabelSymbol"}) {
        Control& control = Find(label);
        control.OnClick = [this, &control] { ShowInfoText(control); };
    }
    Get<ButtonControl>("CommandQuest").OnClick = [this] { CommandQuest_Click(); };
    Get<ButtonControl>("CommandOK").OnClick = [this] { CommandOK_Click(); };
    Get<ButtonControl>("CommandCancel").OnClick = [this] { CommandCancel_Click(); };
    Get<TabStripControl>("TabStripMachine").OnClick = [this] { TabStripMachine_Click(); };
}

Control& ConfigWindow::Find(const std::string& name, int index) const {
    for (const auto& control : controls_)
        if (control->Name() == name && control->Index() == index)
            return *control;
    throw std::out_of_range("no control " + name + "(" + std::to_string(index) + ")");
}

std::size_t ConfigWindow::CurrentMachine() const {
    const int position = Get<TabStripControl>("TabStripMachine").SelectedPosition();
    if (position < 1 || position > 5)
        throw std::out_of_range("tab " + std::to_string(position));
    return static_cast<std::size_t>(tabMachine_[static_cast<std::size_t>(position)]);
}

void ConfigWindow::closeEvent(QCloseEvent* event) {
    bool cancel = true;
    events_.Deliver([&] { cancel = Form_QueryUnload(); });
    if (cancel && !events_.Ended())
        event->ignore();
    else
        event->accept();
}

void ConfigWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        events_.Deliver([this] { Form_Activate(); });
    QWidget::changeEvent(event);
}

void ConfigWindow::resizeEvent(QResizeEvent* event) {
    events_.Deliver([this] { Form_Resize(); });
    QWidget::resizeEvent(event);
}

void ConfigWindow::Form_Activate() {
    runtime::Guard guard(rt_, "Form_Activate");
    // The window is activated again whenever a message box closes or the user
    // comes back from another program; OK stays disabled once saving began.
    if (saving_)
        return;
    guard([&] { Get<ButtonControl>("CommandOK").SetEnabled(true); });
}

void ConfigWindow::Form_Resize() {
    // The controls keep their design places and sizes at every window size.
}

} // namespace torvex::window
