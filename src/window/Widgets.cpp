#include "window/Widgets.h"

#include "window/Controls.h"

#include <QFocusEvent>
#include <QFrame>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <qdrawutil.h>

namespace torvex::window {

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && clicked)
        clicked();
}

bool FocusFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            gotFocus_(reason);
    } else if (event->type() == QEvent::MouseButtonRelease) {
        released_();
    }
    return QObject::eventFilter(watched, event);
}

void DropDownList::showPopup() {
    if (!refuse || !refuse())
        QComboBox::showPopup();
}

void ColorButton::paintEvent(QPaintEvent* event) {
    if (!face) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    painter.fillRect(rect(), *face);
    qDrawShadePanel(&painter, rect(), palette(), isDown(), 1);
    painter.drawControl(QStyle::CE_PushButtonLabel, option);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(4, 4, -4, -4);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

TabStripWidget::TabStripWidget(QWidget* parent)
    : QWidget(parent), bar(new QTabBar(this)), page(new QFrame(this)) {
    page->setFrameShape(QFrame::StyledPanel);
    page->lower();
}

void TabStripWidget::resizeEvent(QResizeEvent*) {
    const int tabHeight = Px(420);
    bar->setGeometry(0, 0, width(), tabHeight);
    page->setGeometry(0, tabHeight - 2, width(), height() - tabHeight + 2);
}

} // namespace torvex::window
