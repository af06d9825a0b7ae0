#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace torvex::platform {

std::string DisplayText(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool pair = i + 1 < text.size() && ((text[i] == '\n' && text[i + 1] == '\r') ||
                                                  (text[i] == '\r' && text[i + 1] == '\n'));
        shown += (pair || text[i] == '\r') ? '\n' : text[i];
        if (pair)
            ++i;
    }
    return shown;
}

Answer QtDialogs::Show(const MessageBox& box) {
    QMessageBox dialog(QApplication::activeWindow());
    dialog.setText(QString::fromStdString(DisplayText(box.text)));
    dialog.setTextFormat(Qt::PlainText);
    dialog.setWindowTitle(box.title ? QString::fromStdString(*box.title) : QApplication::applicationName());
    switch (box.icon) {
    case Icon::Critical:
        dialog.setIcon(QMessageBox::Critical);
        break;
    case Icon::Exclamation:
        dialog.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        dialog.setIcon(QMessageBox::Information);
        break;
    case Icon::None:
        break;
    }
    if (box.buttons == Buttons::YesNo) {
        dialog.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Escape gives the default answer. Every question of the program has
        // the safe answer as its default: resume after a failure report, keep
        // editing instead of cancelling, stop before data is lost. A reflexive
        // Escape must never end the run or throw the user's work away.
        const auto answer = box.defaultButton == 2 ? QMessageBox::No : QMessageBox::Yes;
        dialog.setDefaultButton(answer);
        dialog.setEscapeButton(answer);
    } else {
        dialog.setStandardButtons(QMessageBox::Ok);
    }
    const int result = dialog.exec();
    events_.ThrowIfEnded();
    if (box.buttons == Buttons::Ok)
        return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

} // namespace torvex::platform
