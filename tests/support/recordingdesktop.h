#pragma once

#include <QList>
#include <QUrl>

#include "common/desktop.h"

namespace TestSupport {

// Test seam: records every address the program asks the desktop to open, and opens nothing.
class RecordingDesktop final : public Common::Desktop {
public:
    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }
    QList<QUrl> opened;
};

} // namespace TestSupport
