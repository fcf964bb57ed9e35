#pragma once

#include <array>
#include <optional>

#include <QHash>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "imaging/effects.h"
#include "imaging/filters.h"

namespace Settings {

class Hive;
struct LiveSettings;

// What the settings window's controls hold, by control name: a check box 0 or 1, a slider its
// value, a list its selected index, a swatch its colour (0x00BBGGRR), a text field its text.
class FormValues final {
public:
    void set(const QString& name, const QVariant& value) { m_values.insert(name, value); }
    bool contains(const QString& name) const { return m_values.contains(name); }
    QVariant value(const QString& name) const { return m_values.value(name); }
    QString text(const QString& name) const { return m_values.value(name).toString(); }
    qint32 number(const QString& name) const { return m_values.value(name).toInt(); }
    QStringList names() const { return m_values.keys(); }

private:
    QHash<QString, QVariant> m_values;
};

// The effects in their fixed order with their controls. A control is named for the setting it edits:
// "txt", "pic" or "chk" then the setting's name, where a check box stands for "Effect".
struct EffectControl final {
    const char* check; // "chkErodeBorder" edits EffectErodeBorder
    const char* caption;
    const char* field; // the size or angle field, or nullptr
    const char* fieldLabel; // "Size:" or "Angle:"
    const char* swatch; // the colour swatch, or nullptr
};
extern const std::array<EffectControl, Imaging::EffectCount> kEffectControls;

// The filters in their fixed order: the check box "chkFilterAntialias" edits FilterAntialias.
struct FilterControl final {
    const char* check;
    const char* caption;
};
extern const std::array<FilterControl, 13> kFilterControls;

// The eighteen colour swatches and the fourteen size and angle fields, in the order they are stored.
extern const std::array<const char*, 18> kSwatches;
extern const std::array<const char*, 14> kSizeFields;

// The order the effects preview stacks the ticked effects in: the two frames come last, so the
// sample shows them around everything else.
extern const std::array<int, Imaging::EffectCount> kPreviewEffectOrder;

// The IgnoreFiles list as the window stores it: lower case, split at blanks, commas and line breaks,
// each item starting with ".", joined with ",". "EXE zip\n.RAR" gives ".exe,.zip,.rar".
QString normalizeIgnoreFiles(const QString& text);

// The image files the window's open-file pickers offer, in the pickers' "Description|patterns|..." form.
QString pictureFileFilter();

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight };
// Where a stamp of the given size goes in a corner of a thumbnail. Positions start at 1: a stamp wider
// or taller than the thumbnail gives a value below 1, which the position fields raise to 1.
QPoint cornerPosition(Corner corner, QSize thumbnail, QSize stamp);

// Which sample a change redraws.
enum class Preview { None, Thumbnail, Watermark, Effects, Filters };
// The preview of each tab (index 0 "Web Page" .. 5 "Options").
Preview previewOfTab(int index);

// The settings window without its widgets: what each control shows when the window opens, what an
// edit does to the live settings at once, and the saving steps of Apply. The window only moves values
// between its controls and this class.
class SettingsForm final {
public:
    SettingsForm(LiveSettings& live, Hive& hive, QString programFolder);

    // Every control's value from the live settings; an empty ImagesFolder is first set to the program's
    // snapshots folder in the live settings.
    FormValues load();

    // A text field's new text: what the field must show afterwards (the text itself when the field
    // keeps what was typed) and the sample to redraw. The live settings take the value at once where the
    // window's rules say so.
    struct Edit final {
        QString text;
        Preview preview = Preview::None;
    };
    Edit textEdited(const QString& name, const QString& text);
    // A check box clicked, or the style list chosen: the sample to redraw.
    Preview clicked(const QString& name, qint32 value);

    // The live settings' colour of "Color" (WatermarkForeColor) and "Style Color" (WatermarkStyleColor).
    void setWatermarkColour(const QString& setting, qint32 colour);
    void setWatermarkFont(const QString& name, double points, bool bold, bool italic);
    void setWatermarkImage(const QString& path);
    // "Remove": no stamp, placed back at 1, 1. The fields then show "1".
    void removeWatermarkImage();
    // A corner button: the stamp's new left and top before the fields raise them to 1, or nothing
    // without a stamp. Every corner but the top left measures the stamp first.
    std::optional<QPoint> placeWatermarkImage(Corner corner);

    // Apply: the nine steps, each value on its own; a value that does not convert or that the store
    // refuses is skipped and the rest goes on. Ends with the live settings reloaded from the store.
    void save(const FormValues& controls);

    // The effects and filters samples read the controls, not the live settings.
    std::array<qint32, Imaging::EffectCount> effectFlags(const FormValues& controls) const;
    Imaging::EffectParameters effectParameters(const FormValues& controls) const;
    Imaging::FilterFlags filterFlags(const FormValues& controls) const;

    const LiveSettings& live() const { return m_live; }
    const QString& programFolder() const { return m_programFolder; }

private:
    LiveSettings& m_live;
    Hive& m_hive;
    QString m_programFolder;
};

} // namespace Settings
