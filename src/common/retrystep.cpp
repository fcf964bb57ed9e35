#include "common/retrystep.h"

#include "common/messagebox.h"

namespace Common {

bool runWithRetry(MessageBox& boxes, const QString& title, const std::function<Status()>& step, bool withSource)
{
    for (;;) {
        const Status done = step();
        if (done)
            return true;
        QString text = QStringLiteral("Error: ") + done.error().message;
        if (withSource)
            text += QLatin1Char(' ') + done.error().source;
        const MessageBox::Answer answer
            = boxes.ask(text, title, MessageBox::Icon::Critical, MessageBox::Buttons::RetryCancel);
        if (answer != MessageBox::Answer::Retry)
            return false;
    }
}

} // namespace Common
