#pragma once

#include <chrono>
#include <functional>

#include <QList>
#include <QString>

#include "common/messagebox.h"

namespace TestSupport {

// Test seam: answers message boxes from a queue and records every box it was asked to show.
// With the queue empty it answers Cancel for boxes that offer it, and OK otherwise.
class ScriptedMessageBox final : public Common::MessageBox {
public:
    struct Shown {
        QString text;
        QString title;
        Icon icon;
        Buttons buttons;
    };

    void queue(Answer answer) { m_answers.append(answer); }
    Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

    // Makes every box stay open for `duration` with an event loop of its own, as a real modal box
    // does while the user reads it: timers fire and other work's events arrive meanwhile.
    // `beforeAnswer` runs as the box closes. With `until`, the box closes as soon as that holds (at
    // most `duration`), so a test waits for work to happen meanwhile rather than for a fixed time.
    void stayOpenFor(
        std::chrono::milliseconds duration, std::function<void()> beforeAnswer = {}, std::function<bool()> until = {});
    // The most boxes that were open at once.
    int deepestNesting() const { return m_deepest; }

    const QList<Shown>& shown() const { return m_shown; }
    QStringList texts() const;

private:
    QList<Answer> m_answers;
    QList<Shown> m_shown;
    std::chrono::milliseconds m_openFor { 0 };
    std::function<void()> m_beforeAnswer;
    std::function<bool()> m_until;
    int m_open = 0;
    int m_deepest = 0;
};

} // namespace TestSupport
