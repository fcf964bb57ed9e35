#include "admin/adminservices.h"

#include "common/messagebox.h"
#include "settings/settingsstore.h"

namespace Admin {

bool saveSetting(const AdminServices& services, const QString& key, const QVariant& value)
{
    for (;;) {
        const Common::Status written
            = Settings::WriteSetting(services.hive, Settings::appKeyPath(), Settings::settingsSection(), key, value);
        if (written)
            return true;
        const auto answer = services.boxes.ask(QStringLiteral("Error: ") + written.error().message,
            QStringLiteral("Error"), Common::MessageBox::Icon::Critical, Common::MessageBox::Buttons::RetryCancel);
        if (answer != Common::MessageBox::Answer::Retry)
            return false;
    }
}

} // namespace Admin
