#include "scriptedmessagebox.h"

namespace TestSupport {

Common::MessageBox::Answer ScriptedMessageBox::ask(
    const QString& text, const QString& title, Icon icon, Buttons buttons)
{
    m_shown.append({ text, title, icon, buttons });
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::YesNo:
        return Answer::No;
    case Buttons::AbortRetryIgnore:
        return Answer::Abort;
    default:
        return Answer::Cancel;
    }
}

QStringList ScriptedMessageBox::texts() const
{
    QStringList out;
    for (const Shown& s : m_shown)
        out.append(s.text);
    return out;
}

} // namespace TestSupport
