#pragma once

#include <QString>

namespace Common {

// Every message box of the program goes through this interface: the shell shows a real dialog,
// tests answer it from a script, so no test ever waits on a modal window.
class MessageBox {
public:
    enum class Icon { None, Information, Question, Warning, Critical };
    enum class Buttons { Ok, OkCancel, RetryCancel, YesNo, YesNoCancel, AbortRetryIgnore };
    enum class Answer { Ok, Cancel, Retry, Yes, No, Abort, Ignore };

    virtual ~MessageBox() = default;

    // Shows text under title and blocks until the user answers (modal).
    virtual Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) = 0;

    // A box whose only button is OK.
    void inform(const QString& text, const QString& title, Icon icon) { ask(text, title, icon, Buttons::Ok); }
};

} // namespace Common
