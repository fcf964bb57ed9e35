#include "cli/terminalboxes.h"

#include <cstdio>

namespace Cli {

QString oneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
        else if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            c = QChar::ReplacementCharacter;
    }
    return line.trimmed();
}

Common::MessageBox::Answer TerminalBoxes::ask(const QString& text, const QString& title, Icon, Buttons buttons)
{
    m_lastText = oneLine(text);
    ++m_count;
    const QString line = title.isEmpty() ? m_lastText : title + QStringLiteral(": ") + m_lastText;
    std::fputs((QStringLiteral("pictavo: ") + line + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::OkCancel:
    case Buttons::RetryCancel:
    case Buttons::YesNoCancel:
        return Answer::Cancel;
    case Buttons::YesNo:
        return Answer::No;
    case Buttons::AbortRetryIgnore:
        return Answer::Abort;
    }
    return Answer::Cancel;
}

} // namespace Cli
