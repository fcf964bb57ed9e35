#pragma once

#include <functional>

#include <QString>
#include <QVariant>

namespace Common {
class MessageBox;
}
namespace Settings {
class Hive;
struct LiveSettings;
}

namespace Admin {

// What the setup, import and upload windows work with, handed in by the main window.
struct AdminServices final {
    Settings::Hive& hive;
    Settings::LiveSettings& settings;
    Common::MessageBox& boxes;
    QString appPath; // the program folder, ending in "/"
    // The main window's RefreshLinksCount: called after an import replaced the links database.
    std::function<void()> refreshLinksCount;
    // Sent as the client identification of every upload request.
    QString clientName = QStringLiteral("Pictavo Studio");
};

// Stores one setting under the program's settings key. A refused write asks "Error: " + the reason with
// Retry and Cancel; Cancel leaves the stored value as it was. True when the value was stored.
bool saveSetting(const AdminServices& services, const QString& key, const QVariant& value);

} // namespace Admin
