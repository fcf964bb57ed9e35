#pragma once

#include <optional>

#include <QString>
#include <QtGlobal>

namespace Common {

// The choosers a window opens: colour, font, image file to open or to save, and folder. The shell passes Qt's dialogs,
// tests answer from a script, so no test ever waits on a real dialog.
class Pickers {
public:
    struct Font final {
        QString name;
        double points = 0;
        bool bold = false;
        bool italic = false;
    };

    virtual ~Pickers() = default;

    // A colour (0x00BBGGRR), starting from the one given; nothing when cancelled.
    virtual std::optional<qint32> pickColor(qint32 initial) = 0;
    // One of the screen's fonts, starting from the one given; nothing when cancelled.
    virtual std::optional<Font> pickFont(const Font& initial) = 0;
    // A file to open; filter in the "Description|*.a;*.b|..." form. "" when cancelled.
    virtual QString openFile(const QString& title, const QString& filter) = 0;
    // A file name to save under, starting empty; same filter form. The chooser asks before an existing
    // file is replaced and accepts only names in an existing folder. "" when cancelled.
    virtual QString saveFile(const QString& title, const QString& filter) = 0;
    // A folder, starting in startFolder; "" when cancelled.
    virtual QString pickFolder(const QString& title, const QString& startFolder) = 0;
};

// A picker filter ("Description|*.a;*.b|...") as Qt's file dialogs take it: "Description (*.a *.b);;...".
QString qtFileFilter(const QString& pickerFilter);

} // namespace Common
