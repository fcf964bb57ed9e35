#pragma once

#include <QString>

#include "common/messagebox.h"

namespace Cli {

// Message boxes without a window: the text goes to standard error as one line and the box takes the
// answer that changes nothing (Cancel, No, OK), since nobody is there to answer. The last text is
// kept so that a command that could not start can say why.
class TerminalBoxes final : public Common::MessageBox {
public:
    Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

    // The text of the last box, empty when none was shown.
    QString lastText() const { return m_lastText; }
    // Boxes shown so far; commands read it to tell a quiet failure from a reported one.
    int count() const { return m_count; }

private:
    QString m_lastText;
    int m_count = 0;
};

// A text as one line for a terminal: line breaks become spaces, other control characters (an escape
// sequence in a page's title, say) a replacement character.
QString oneLine(const QString& text);

} // namespace Cli
