#include "scriptedmessagebox.h"

#include <QEventLoop>
#include <QTimer>

namespace TestSupport {

Common::MessageBox::Answer ScriptedMessageBox::ask(
    const QString& text, const QString& title, Icon icon, Buttons buttons)
{
    m_shown.append({ text, title, icon, buttons });
    if (m_openFor.count() > 0) {
        m_deepest = std::max(m_deepest, ++m_open);
        QEventLoop loop;
        QTimer::singleShot(m_openFor, &loop, &QEventLoop::quit);
        QTimer check;
        if (m_until) {
            QObject::connect(&check, &QTimer::timeout, &loop, [this, &loop] {
                if (m_until())
                    loop.quit();
            });
            check.start(20);
        }
        loop.exec();
        --m_open;
        if (m_beforeAnswer)
            m_beforeAnswer();
    }
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

void ScriptedMessageBox::stayOpenFor(
    std::chrono::milliseconds duration, std::function<void()> beforeAnswer, std::function<bool()> until)
{
    m_openFor = duration;
    m_beforeAnswer = std::move(beforeAnswer);
    m_until = std::move(until);
}

QStringList ScriptedMessageBox::texts() const
{
    QStringList out;
    for (const Shown& s : m_shown)
        out.append(s.text);
    return out;
}

} // namespace TestSupport
