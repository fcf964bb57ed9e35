#pragma once

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

    const QList<Shown>& shown() const { return m_shown; }
    QStringList texts() const;

private:
    QList<Answer> m_answers;
    QList<Shown> m_shown;
};

} // namespace TestSupport
