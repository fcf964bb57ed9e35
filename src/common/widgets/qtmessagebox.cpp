#include "common/widgets/qtmessagebox.h"

#include <QMessageBox>

namespace Common {

namespace {

    QMessageBox::Icon iconFor(MessageBox::Icon icon)
    {
        switch (icon) {
        case MessageBox::Icon::Information:
            return QMessageBox::Information;
        case MessageBox::Icon::Question:
            return QMessageBox::Question;
        case MessageBox::Icon::Warning:
            return QMessageBox::Warning;
        case MessageBox::Icon::Critical:
            return QMessageBox::Critical;
        case MessageBox::Icon::None:
            break;
        }
        return QMessageBox::NoIcon;
    }

    QMessageBox::StandardButtons buttonsFor(MessageBox::Buttons buttons)
    {
        switch (buttons) {
        case MessageBox::Buttons::Ok:
            return QMessageBox::Ok;
        case MessageBox::Buttons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MessageBox::Buttons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        case MessageBox::Buttons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MessageBox::Buttons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MessageBox::Buttons::AbortRetryIgnore:
            return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
        }
        return QMessageBox::Ok;
    }

    MessageBox::Answer answerFor(int button)
    {
        switch (button) {
        case QMessageBox::Ok:
            return MessageBox::Answer::Ok;
        case QMessageBox::Retry:
            return MessageBox::Answer::Retry;
        case QMessageBox::Yes:
            return MessageBox::Answer::Yes;
        case QMessageBox::No:
            return MessageBox::Answer::No;
        case QMessageBox::Abort:
            return MessageBox::Answer::Abort;
        case QMessageBox::Ignore:
            return MessageBox::Answer::Ignore;
        default:
            return MessageBox::Answer::Cancel;
        }
    }

} // namespace

QtMessageBox::QtMessageBox(QWidget* owner)
    : m_owner(owner)
{
}

MessageBox::Answer QtMessageBox::ask(const QString& text, const QString& title, Icon icon, Buttons buttons)
{
    QMessageBox box(iconFor(icon), title, text, buttonsFor(buttons), m_owner.data());
    const int pressed = box.exec();
    // Closing a box with only OK (Esc, the window's close button) still means OK.
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return answerFor(pressed);
}

} // namespace Common
