#pragma once

#include <functional>

#include <QDialog>
#include <QHash>

#include "settings/settingsform.h"
#include "settings/settingspreviews.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QSlider;
class QTabWidget;
class QVBoxLayout;

namespace Common {
class Desktop;
class Pickers;
}
namespace Imaging {
class PictureDisplay;
}

namespace Settings {

class ColourSwatch;
class Hive;
struct LiveSettings;

// The settings window: every option of the capture, the thumbnails, the watermark, the effects, the
// filters and the viewers on six tabs, with a sample picture on four of them. Several edits reach the
// live settings at once, so the samples and the rest of the program see them; Apply and OK store
// everything and reload the live settings; Cancel and Escape store nothing.
class frmSettings final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSettings)

public:
    struct Services {
        Hive& hive;
        LiveSettings& settings;
        Common::Pickers& pickers;
        Common::Desktop& desktop;
        QString appPath; // the program folder, ending in "/"
        QString workFolder; // where the samples' files go when the program folder cannot be written
        std::function<void()> applied; // after every Apply and OK
        QString shippedPath = {}; // where the sample photograph is; the program folder when empty
    };

    explicit frmSettings(const Services& services, QWidget* parent = nullptr);
    ~frmSettings() override;

    // The samples; each does nothing while the window fills or rewrites several fields at once.
    void ShowThumbnailSample();
    void ShowWatermarkSample();
    void ShowEffectsSample();
    void ShowFilterSample();
    bool PreviewsEnabled() const { return m_previewsEnabled; }

    // Stores every option and reloads the live settings; the window stays open.
    void apply();
    // What the controls hold now, by control name.
    FormValues controlValues() const;

private:
    void buildWebPageTab(QTabWidget* tabs);
    void buildThumbnailTab(QTabWidget* tabs);
    void buildWatermarkTab(QTabWidget* tabs);
    void buildEffectsTab(QTabWidget* tabs);
    void buildFiltersTab(QTabWidget* tabs);
    void buildOptionsTab(QTabWidget* tabs);
    void buildButtons(QVBoxLayout* layout);

    QLineEdit* addField(const QString& name, const QString& text = {});
    // A caption, the field, and a note after it when there is one.
    void addFieldRow(QGridLayout* grid, int row, const QString& caption, const QString& name, const QString& note);
    QCheckBox* addCheck(const QString& name, const QString& caption);
    ColourSwatch* addSwatch(const QString& name);
    Imaging::PictureDisplay* addSample(const QString& name);

    void loadControls();
    void setControl(const QString& name, const QVariant& value);
    void setFieldText(QLineEdit* field, const QString& text);
    void handleTextChanged(QLineEdit* field);
    void handleClicked(const QString& name, qint32 value);
    void runPreview(Preview preview);
    // The colour chooser, starting from the swatch's colour; the swatch takes the one chosen.
    void PickColor(ColourSwatch* swatch);
    void pickWatermarkColour(const QString& setting);
    void pickWatermarkFont();
    QString pickImageFile();
    void browseImagesFolder();
    void browseWatermarkImage();
    void browseFrame();
    void browseVignette();
    void removeWatermarkImage();
    void placeWatermarkImage(Corner corner);
    QLineEdit* field(const char* name) const;

    Services m_services;
    SettingsForm m_form;
    SettingsPreviews m_previews;
    bool m_previewsEnabled = false;
    QTabWidget* m_tabs = nullptr;
    QHash<QString, QLineEdit*> m_fields;
    QSlider* m_threadsSlider = nullptr;
    QLabel* m_lblThreadsCount = nullptr;
    QSlider* m_jpegSlider = nullptr;
    QLabel* m_lblJpegQuality = nullptr;
    QComboBox* m_cboImageType = nullptr;
    QComboBox* m_cboDrawStyle = nullptr;
    QCheckBox* m_chkImageAspect = nullptr;
    Imaging::PictureDisplay* m_thumbnailSample = nullptr;
    Imaging::PictureDisplay* m_watermarkSample = nullptr;
    Imaging::PictureDisplay* m_effectsSample = nullptr;
    Imaging::PictureDisplay* m_filterSample = nullptr;
};

} // namespace Settings
