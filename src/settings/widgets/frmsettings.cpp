#include "settings/widgets/frmsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/desktop.h"
#include "common/numbers.h"
#include "common/pickers.h"
#include "imaging/widgets/picturedisplay.h"
#include "settings/livesettings.h"
#include "settings/widgets/colourswatch.h"

namespace Settings {

namespace {

    QPushButton* button(const QString& name, const QString& caption, QWidget* parent)
    {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    }

    QLabel* label(const QString& text, QWidget* parent) { return new QLabel(text, parent); }

    // A tab holding one framed group, as every tab of the window does.
    QGroupBox* framedTab(QTabWidget* tabs, const QString& tabCaption, const QString& frameCaption)
    {
        auto* page = new QWidget(tabs);
        auto* layout = new QVBoxLayout(page);
        auto* frame = new QGroupBox(frameCaption, page);
        layout->addWidget(frame);
        tabs->addTab(page, tabCaption);
        return frame;
    }

    // The samples are small: room for a thumbnail of the default size and a frame around it.
    constexpr QSize kSampleArea(260, 200);

} // namespace

frmSettings::frmSettings(const Services& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
    , m_form(services.settings, services.hive, services.appPath)
    , m_previews(services.shippedPath.isEmpty() ? services.appPath : services.shippedPath, services.appPath,
          services.workFolder)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(tr("Settings"));

    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("SSTab1"));
    layout->addWidget(m_tabs);
    buildWebPageTab(m_tabs);
    buildThumbnailTab(m_tabs);
    buildWatermarkTab(m_tabs);
    buildEffectsTab(m_tabs);
    buildFiltersTab(m_tabs);
    buildOptionsTab(m_tabs);
    buildButtons(layout);

    loadControls();
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) { runPreview(previewOfTab(index)); });
}

frmSettings::~frmSettings() = default;

QLineEdit* frmSettings::addField(const QString& name, const QString& text)
{
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(name);
    m_fields.insert(name, edit);
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { handleTextChanged(edit); });
    return edit;
}

QCheckBox* frmSettings::addCheck(const QString& name, const QString& caption)
{
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(name);
    connect(box, &QCheckBox::toggled, this, [this, name](bool on) { handleClicked(name, on ? 1 : 0); });
    return box;
}

ColourSwatch* frmSettings::addSwatch(const QString& name)
{
    auto* swatch = new ColourSwatch(this);
    swatch->setObjectName(name);
    connect(swatch, &ColourSwatch::clicked, this, [this, swatch] { PickColor(swatch); });
    return swatch;
}

Imaging::PictureDisplay* frmSettings::addSample(const QString& name)
{
    auto* sample = new Imaging::PictureDisplay(this);
    sample->setObjectName(name);
    sample->setMinimumSize(kSampleArea);
    return sample;
}

void frmSettings::addFieldRow(
    QGridLayout* grid, int row, const QString& caption, const QString& name, const QString& note)
{
    grid->addWidget(new QLabel(caption, this), row, 0);
    grid->addWidget(addField(name), row, 1);
    if (!note.isEmpty())
        grid->addWidget(new QLabel(note, this), row, 2);
}

QLineEdit* frmSettings::field(const char* name) const { return m_fields.value(QLatin1String(name)); }

void frmSettings::buildWebPageTab(QTabWidget* tabs)
{
    QGroupBox* frame = framedTab(tabs, tr("Web Page"), tr("Webpage Options"));
    auto* grid = new QGridLayout(frame);

    m_threadsSlider = new QSlider(Qt::Horizontal, frame);
    m_threadsSlider->setObjectName(QStringLiteral("ThreadsCountSlider"));
    m_threadsSlider->setRange(1, 100);
    m_lblThreadsCount = label(QString(), frame);
    m_lblThreadsCount->setObjectName(QStringLiteral("lblThreadsCount"));
    connect(m_threadsSlider, &QSlider::valueChanged, this,
        [this](int value) { m_lblThreadsCount->setText(QString::number(value)); });
    grid->addWidget(label(tr("Threads:"), frame), 0, 0);
    grid->addWidget(m_threadsSlider, 0, 1);
    grid->addWidget(m_lblThreadsCount, 0, 2);

    const struct {
        const char* caption;
        const char* name;
        const char* note;
    } rows[] = {
        { "Timeout:", "txtTimeout", "milliseconds" },
        { "Delay Time:", "txtDelayTime", "milliseconds. Wait after page loads." },
        { "Browser Width:", "txtSnapWidth", "Pixels (0 means default full page width)" },
        { "Browser Height:", "txtSnapHeight", "Pixels (0 means default full page height)" },
        { "Browsers:", "txtBrowserEndpoints", "Empty: this computer. Or ws://..., http://host:port" },
        { "Memory Budget:", "txtMemoryBudget", "MB for the browsers (0: half of this computer's memory)" },
    };
    int row = 1;
    for (const auto& r : rows) {
        addFieldRow(grid, row++, tr(r.caption), QLatin1String(r.name), tr(r.note));
        if (QLatin1String(r.name) == QLatin1String("txtDelayTime")) {
            grid->addWidget(addCheck(QStringLiteral("chkFastDelay"), tr("Fast delay")), row, 1);
            grid->addWidget(label(tr("Run page timers ahead instead of waiting."), frame), row++, 2);
        }
    }
    grid->addWidget(addCheck(QStringLiteral("chkSnapDimension"), tr("Set image size as browser size")), row++, 1, 1, 2);
    grid->addWidget(addCheck(QStringLiteral("chkEnableActiveX"), tr("Enable ActiveX")), row++, 1, 1, 2);
    grid->addWidget(addCheck(QStringLiteral("chkEnableJava"), tr("Enable Java")), row++, 1, 1, 2);
    grid->addWidget(addCheck(QStringLiteral("chkEnableScript"), tr("Enable Script")), row++, 1, 1, 2);
    grid->addWidget(addCheck(QStringLiteral("chkDismissCookieBanners"), tr("Dismiss cookie banners")), row, 1);
    grid->addWidget(label(tr("With scripts on: reject cookie-consent walls before the capture."), frame), row++, 2);
    grid->addWidget(addCheck(QStringLiteral("chkSetForceSnap"), tr("Force snapshot if time out")), row++, 1, 1, 2);
    grid->addWidget(addCheck(QStringLiteral("chkCheckBlankPages"), tr("Check for blank pages")), row, 1);
    grid->addWidget(label(tr("Capture a one-colour page once more, then mark it blank."), frame), row++, 2);

    auto* ignoreHelp = label(
        tr("Skip downloadable links ending with these following extensions (separate by comma or space):"), frame);
    ignoreHelp->setWordWrap(true);
    grid->addWidget(ignoreHelp, row++, 0, 1, 3);
    auto* ignore = new QPlainTextEdit(frame);
    ignore->setObjectName(QStringLiteral("txtIgnoreFiles"));
    ignore->setMaximumHeight(80);
    grid->addWidget(label(tr("Ignore:"), frame), row, 0, Qt::AlignTop);
    grid->addWidget(ignore, row++, 1, 1, 2);
    grid->setRowStretch(row, 1);
}

void frmSettings::buildThumbnailTab(QTabWidget* tabs)
{
    QGroupBox* frame = framedTab(tabs, tr("Thumbnail"), tr("Thumbnail Options"));
    auto* grid = new QGridLayout(frame);
    addFieldRow(grid, 0, tr("Image Width:"), QStringLiteral("txtImageWidth"), tr("Pixels"));
    addFieldRow(grid, 1, tr("Image Height:"), QStringLiteral("txtImageHeight"), tr("Pixels"));

    m_cboImageType = new QComboBox(frame);
    m_cboImageType->setObjectName(QStringLiteral("cboImageType"));
    m_cboImageType->addItems({ tr("JPG"), tr("GIF"), tr("PNG"), tr("BMP"), tr("TIFF") });
    grid->addWidget(label(tr("Image File Type:"), frame), 2, 0);
    grid->addWidget(m_cboImageType, 2, 1);

    m_jpegSlider = new QSlider(Qt::Horizontal, frame);
    m_jpegSlider->setObjectName(QStringLiteral("JpegSlider"));
    m_jpegSlider->setRange(0, 100);
    m_lblJpegQuality = label(QString(), frame);
    m_lblJpegQuality->setObjectName(QStringLiteral("lblJpegQuality"));
    connect(m_jpegSlider, &QSlider::valueChanged, this,
        [this](int value) { m_lblJpegQuality->setText(QString::number(value) + QStringLiteral("%")); });
    grid->addWidget(label(tr("JPG Quality:"), frame), 3, 0);
    grid->addWidget(m_jpegSlider, 3, 1);
    grid->addWidget(m_lblJpegQuality, 3, 2);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(addField(QStringLiteral("txtImagesFolder")), 1);
    QPushButton* browse = button(QStringLiteral("cmdBrowse"), tr("Browse"), frame);
    QPushButton* open = button(QStringLiteral("cmdOpen"), tr("Open"), frame);
    folderRow->addWidget(browse);
    folderRow->addWidget(open);
    connect(browse, &QPushButton::clicked, this, &frmSettings::browseImagesFolder);
    connect(open, &QPushButton::clicked, this,
        [this] { Common::OpenFolderInExplorer(m_services.desktop, m_services.settings.ImagesFolder); });
    grid->addWidget(label(tr("Local Images Folder:"), frame), 4, 0);
    grid->addLayout(folderRow, 4, 1, 1, 2);

    m_chkImageAspect = addCheck(QStringLiteral("chkImageAspect"), tr("Keep Aspect Ration"));
    grid->addWidget(m_chkImageAspect, 5, 1, 1, 2);
    grid->addWidget(addCheck(QStringLiteral("chkImageGray"), tr("Convert to Gray")), 6, 1, 1, 2);
    grid->addWidget(addCheck(QStringLiteral("chkImageBlackAndWhite"), tr("Convert to Black and White")), 7, 1, 1, 2);
    m_thumbnailSample = addSample(QStringLiteral("ThumbnailSample"));
    grid->addWidget(m_thumbnailSample, 0, 3, 8, 1);
    grid->setRowStretch(8, 1);
}

void frmSettings::buildWatermarkTab(QTabWidget* tabs)
{
    QGroupBox* frame = framedTab(tabs, tr("Watermark"), tr("Thumbnail Watermark"));
    auto* grid = new QGridLayout(frame);
    grid->addWidget(label(tr("Watermark Text:"), frame), 0, 0);
    grid->addWidget(addField(QStringLiteral("txtWatermarkText")), 0, 1, 1, 3);
    grid->addWidget(label(tr("X position:"), frame), 1, 0);
    grid->addWidget(addField(QStringLiteral("txtWatermarkX")), 1, 1);
    grid->addWidget(label(tr("Y position:"), frame), 1, 2);
    grid->addWidget(addField(QStringLiteral("txtWatermarkY")), 1, 3);

    auto* textButtons = new QHBoxLayout;
    QPushButton* colour = button(QStringLiteral("cmdWatermarkColor"), tr("Color"), frame);
    QPushButton* font = button(QStringLiteral("cmdWatermarkFont"), tr("Font"), frame);
    QPushButton* styleColour = button(QStringLiteral("cmdStyleColor"), tr("Style Color"), frame);
    connect(colour, &QPushButton::clicked, this, [this] { pickWatermarkColour(QStringLiteral("WatermarkForeColor")); });
    connect(font, &QPushButton::clicked, this, &frmSettings::pickWatermarkFont);
    connect(styleColour, &QPushButton::clicked, this,
        [this] { pickWatermarkColour(QStringLiteral("WatermarkStyleColor")); });
    textButtons->addWidget(colour);
    textButtons->addWidget(font);
    textButtons->addWidget(styleColour);
    grid->addLayout(textButtons, 2, 1, 1, 3);

    m_cboDrawStyle = new QComboBox(frame);
    m_cboDrawStyle->setObjectName(QStringLiteral("cboDrawStyle"));
    m_cboDrawStyle->addItems({ tr("Normal"), tr("Outline"), tr("Fill Outline"), tr("Shadow Text"), tr("Water Mark") });
    connect(m_cboDrawStyle, &QComboBox::currentIndexChanged, this, [this](int index) {
        // A stored style the list does not offer shows no item and stays as it is.
        if (index >= 0)
            handleClicked(QStringLiteral("cboDrawStyle"), index);
    });
    grid->addWidget(label(tr("Style:"), frame), 3, 0);
    grid->addWidget(m_cboDrawStyle, 3, 1, 1, 3);

    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(addField(QStringLiteral("txtWatermarkImage")), 1);
    QPushButton* browse = button(QStringLiteral("cmdBrowseWatermarkImage"), tr("Browse"), frame);
    QPushButton* remove = button(QStringLiteral("cmdWatermarkRemove"), tr("Remove"), frame);
    connect(browse, &QPushButton::clicked, this, &frmSettings::browseWatermarkImage);
    connect(remove, &QPushButton::clicked, this, &frmSettings::removeWatermarkImage);
    imageRow->addWidget(browse);
    imageRow->addWidget(remove);
    grid->addWidget(label(tr("Watermark Image:"), frame), 4, 0);
    grid->addLayout(imageRow, 4, 1, 1, 3);
    grid->addWidget(label(tr("Left:"), frame), 5, 0);
    grid->addWidget(addField(QStringLiteral("txtWatermarkImageLeft")), 5, 1);
    grid->addWidget(label(tr("Top:"), frame), 5, 2);
    grid->addWidget(addField(QStringLiteral("txtWatermarkImageTop")), 5, 3);

    // The stamp's corner of the thumbnail, laid out as the corners they stand for.
    auto* corners = new QGridLayout;
    const struct {
        const char* name;
        const char* caption;
        const char* tip;
        Corner corner;
        int row;
        int column;
    } cornerButtons[] = {
        { "cmdWatermarkTL", "\u2196", "Top left corner", Corner::TopLeft, 0, 0 },
        { "cmdWatermarkTR", "\u2197", "Top right corner", Corner::TopRight, 0, 1 },
        { "cmdWatermarkBL", "\u2199", "Bottom left corner", Corner::BottomLeft, 1, 0 },
        { "cmdWatermarkBR", "\u2198", "Bottom right corner", Corner::BottomRight, 1, 1 },
    };
    for (const auto& c : cornerButtons) {
        QPushButton* b = button(QLatin1String(c.name), QString::fromUtf8(c.caption), frame);
        b->setToolTip(tr(c.tip));
        b->setFixedWidth(32);
        connect(b, &QPushButton::clicked, this, [this, corner = c.corner] { placeWatermarkImage(corner); });
        corners->addWidget(b, c.row, c.column);
    }
    grid->addLayout(corners, 6, 1, 1, 3, Qt::AlignLeft);

    m_watermarkSample = addSample(QStringLiteral("WatermarkSample"));
    grid->addWidget(m_watermarkSample, 0, 4, 7, 1);
    grid->setRowStretch(7, 1);
}

void frmSettings::buildEffectsTab(QTabWidget* tabs)
{
    QGroupBox* frame = framedTab(tabs, tr("Effects"), tr("Thumbnail Effects"));
    auto* grid = new QGridLayout(frame);
    grid->setVerticalSpacing(2);
    int row = 0;
    for (const EffectControl& effect : kEffectControls) {
        const QLatin1String check(effect.check);
        grid->addWidget(addCheck(check, tr(effect.caption)), row, 0);
        if (effect.field) {
            grid->addWidget(label(tr(effect.fieldLabel), frame), row, 1);
            QLineEdit* size = addField(QLatin1String(effect.field));
            size->setMaximumWidth(50);
            grid->addWidget(size, row, 2);
        }
        if (effect.swatch)
            grid->addWidget(addSwatch(QLatin1String(effect.swatch)), row, 3);
        ++row;
        if (check == QLatin1String("chkFrameSolid")) {
            grid->addWidget(addSwatch(QStringLiteral("picFrameSolidColor1")), row - 1, 4);
        } else if (check == QLatin1String("chkShadowCanvas")) {
            grid->addWidget(label(tr("Blur(0..20):"), frame), row, 1);
            QLineEdit* blur = addField(QStringLiteral("txtShadowCanvasBlur"));
            blur->setMaximumWidth(50);
            grid->addWidget(blur, row, 2);
            grid->addWidget(label(tr("Shadow:"), frame), row, 3);
            grid->addWidget(addSwatch(QStringLiteral("picShadowCanvasShadow")), row, 4);
            ++row;
        } else if (check == QLatin1String("chkFrame")) {
            auto* fileRow = new QHBoxLayout;
            fileRow->addWidget(addField(QStringLiteral("txtFrameEffectSliceFile")), 1);
            QPushButton* browse = button(QStringLiteral("cmdFrame"), tr("Browse"), frame);
            connect(browse, &QPushButton::clicked, this, &frmSettings::browseFrame);
            fileRow->addWidget(browse);
            grid->addLayout(fileRow, row++, 0, 1, 5);
        } else if (check == QLatin1String("chkVignette")) {
            auto* fileRow = new QHBoxLayout;
            fileRow->addWidget(label(tr("Mask File:"), frame));
            fileRow->addWidget(addField(QStringLiteral("txtVignetteEffectFile")), 1);
            QPushButton* browse = button(QStringLiteral("cmdVignette"), tr("Browse"), frame);
            connect(browse, &QPushButton::clicked, this, &frmSettings::browseVignette);
            fileRow->addWidget(browse);
            grid->addLayout(fileRow, row++, 0, 1, 5);
        }
    }
    grid->addWidget(addCheck(QStringLiteral("chkRotateEffects"), tr("Rotate Selected Effects")), row++, 0, 1, 5);
    m_effectsSample = addSample(QStringLiteral("EffectsSample"));
    grid->addWidget(m_effectsSample, 0, 5, row, 1, Qt::AlignTop);
}

void frmSettings::buildFiltersTab(QTabWidget* tabs)
{
    QGroupBox* frame = framedTab(tabs, tr("Filters"), tr("Thumbnail Filters"));
    auto* grid = new QGridLayout(frame);
    grid->addWidget(label(tr("Apply filters to the thumbnails images"), frame), 0, 0, 1, 2);
    int row = 1;
    for (const FilterControl& filter : kFilterControls)
        grid->addWidget(addCheck(QLatin1String(filter.check), tr(filter.caption)), row++, 0);
    m_filterSample = addSample(QStringLiteral("FilterSample"));
    grid->addWidget(m_filterSample, 1, 1, row - 1, 1, Qt::AlignTop);
    grid->setRowStretch(row, 1);
}

void frmSettings::buildOptionsTab(QTabWidget* tabs)
{
    QGroupBox* frame = framedTab(tabs, tr("Options"), tr("General Options"));
    auto* grid = new QGridLayout(frame);
    addFieldRow(grid, 0, tr("Snapshots Window Image Count:"), QStringLiteral("txtMaxViewerCount"),
        tr("Images will wrap to keep performance"));
    addFieldRow(grid, 1, tr("Viewer Images Per Page:"), QStringLiteral("txtViewerPageSize"), {});
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(2, 1);
}

void frmSettings::buildButtons(QVBoxLayout* layout)
{
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QPushButton* ok = button(QStringLiteral("cmdOK"), tr("OK"), this);
    QPushButton* cancel = button(QStringLiteral("cmdCancel"), tr("Cancel"), this);
    QPushButton* applyButton = button(QStringLiteral("cmpApply"), tr("Apply"), this);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(applyButton);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] {
        apply();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(applyButton, &QPushButton::clicked, this, &frmSettings::apply);
}

void frmSettings::loadControls()
{
    m_previewsEnabled = false;
    const FormValues values = m_form.load();
    // Each control is set as the user would set it, so its handler's rules reach the live settings.
    for (const QString& name : values.names())
        setControl(name, values.value(name));
    // The sliders show what they will store: a stored value beyond their range is shown at its end.
    m_lblThreadsCount->setText(QString::number(m_threadsSlider->value()));
    m_lblJpegQuality->setText(QString::number(m_jpegSlider->value()) + QStringLiteral("%"));
    m_previewsEnabled = true;
    m_tabs->setCurrentIndex(0);
}

void frmSettings::setControl(const QString& name, const QVariant& value)
{
    QWidget* control = findChild<QWidget*>(name);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        setFieldText(edit, value.toString());
    else if (auto* text = qobject_cast<QPlainTextEdit*>(control))
        text->setPlainText(value.toString());
    else if (auto* box = qobject_cast<QCheckBox*>(control))
        box->setChecked(value.toInt() != 0);
    else if (auto* slider = qobject_cast<QSlider*>(control))
        slider->setValue(value.toInt());
    else if (auto* list = qobject_cast<QComboBox*>(control))
        list->setCurrentIndex(value.toInt());
    else if (auto* swatch = qobject_cast<ColourSwatch*>(control))
        swatch->setColour(value.toInt());
}

// Rewrites a field as its handler would see it typed: the handler runs, once.
void frmSettings::setFieldText(QLineEdit* edit, const QString& text)
{
    if (edit->text() == text)
        handleTextChanged(edit);
    else
        edit->setText(text);
}

FormValues frmSettings::controlValues() const
{
    FormValues values;
    for (QWidget* control : findChildren<QWidget*>()) {
        const QString name = control->objectName();
        if (name.isEmpty())
            continue;
        if (auto* edit = qobject_cast<QLineEdit*>(control); edit && m_fields.contains(name))
            values.set(name, edit->text());
        else if (auto* text = qobject_cast<QPlainTextEdit*>(control))
            values.set(name, text->toPlainText());
        else if (auto* box = qobject_cast<QCheckBox*>(control))
            values.set(name, box->isChecked() ? 1 : 0);
        else if (auto* slider = qobject_cast<QSlider*>(control))
            values.set(name, slider->value());
        else if (auto* list = qobject_cast<QComboBox*>(control))
            values.set(name, list->currentIndex());
        else if (auto* swatch = qobject_cast<ColourSwatch*>(control))
            values.set(name, swatch->colour());
    }
    return values;
}

void frmSettings::handleTextChanged(QLineEdit* edit)
{
    const SettingsForm::Edit result = m_form.textEdited(edit->objectName(), edit->text());
    if (result.text != edit->text()) {
        const QSignalBlocker blocker(edit);
        edit->setText(result.text);
    }
    runPreview(result.preview);
}

void frmSettings::handleClicked(const QString& name, qint32 value) { runPreview(m_form.clicked(name, value)); }

void frmSettings::runPreview(Preview preview)
{
    switch (preview) {
    case Preview::Thumbnail:
        return ShowThumbnailSample();
    case Preview::Watermark:
        return ShowWatermarkSample();
    case Preview::Effects:
        return ShowEffectsSample();
    case Preview::Filters:
        return ShowFilterSample();
    case Preview::None:
        return;
    }
}

void frmSettings::ShowThumbnailSample()
{
    if (m_previewsEnabled)
        m_thumbnailSample->setPicture(m_previews.thumbnailSample(m_services.settings));
}

void frmSettings::ShowWatermarkSample()
{
    if (m_previewsEnabled)
        m_watermarkSample->setPicture(m_previews.watermarkSample(m_services.settings));
}

void frmSettings::ShowEffectsSample()
{
    if (!m_previewsEnabled)
        return;
    // The fields the sample reads are tidied as it reads them; that is no edit of their own.
    const auto tidy = [](QLineEdit* edit, const QString& text) {
        const QSignalBlocker blocker(edit);
        if (edit->text() != text)
            edit->setText(text);
    };
    for (const char* name : { "txtFrameEffectSliceFile", "txtVignetteEffectFile" })
        tidy(field(name), field(name)->text().trimmed());
    if (findChild<QCheckBox*>(QStringLiteral("chkShadowCanvas"))->isChecked()) {
        for (const char* name : { "txtShadowCanvasBlur", "txtShadowCanvasSize" })
            tidy(field(name), m_form.textEdited(QLatin1String(name), field(name)->text()).text);
    }
    const FormValues values = controlValues();
    m_effectsSample->setPicture(m_previews.effectsSample(m_form.effectFlags(values), m_form.effectParameters(values)));
}

void frmSettings::ShowFilterSample()
{
    if (!m_previewsEnabled)
        return;
    m_filterSample->setPicture(m_previews.filterSample(
        m_form.filterFlags(controlValues()), m_services.settings.ImageWidth, m_services.settings.ImageHeight));
}

void frmSettings::apply()
{
    m_form.save(controlValues());
    if (m_services.applied)
        m_services.applied();
}

void frmSettings::PickColor(ColourSwatch* swatch)
{
    if (const auto chosen = m_services.pickers.pickColor(swatch->colour())) {
        swatch->setColour(*chosen);
        handleClicked(swatch->objectName(), *chosen);
    }
}

void frmSettings::pickWatermarkColour(const QString& setting)
{
    const LiveSettings& s = m_services.settings;
    const qint32 current
        = setting == QLatin1String("WatermarkForeColor") ? s.WatermarkForeColor : s.WatermarkStyleColor;
    if (const auto chosen = m_services.pickers.pickColor(current)) {
        m_form.setWatermarkColour(setting, *chosen);
        ShowWatermarkSample();
    }
}

void frmSettings::pickWatermarkFont()
{
    const LiveSettings& s = m_services.settings;
    const Common::Pickers::Font current { s.WatermarkFontname, double(s.WatermarkFontSize), s.WatermarkFontBold,
        s.WatermarkFontItalic };
    if (const auto chosen = m_services.pickers.pickFont(current)) {
        m_form.setWatermarkFont(chosen->name, chosen->points, chosen->bold, chosen->italic);
        ShowWatermarkSample();
    }
}

QString frmSettings::pickImageFile() { return m_services.pickers.openFile(tr("Open Image File"), pictureFileFilter()); }

void frmSettings::browseImagesFolder()
{
    QString start = field("txtImagesFolder")->text();
    if (start.isEmpty())
        start = m_services.appPath;
    QString chosen = m_services.pickers.pickFolder(tr("Select folder"), start);
    if (chosen.isEmpty())
        return;
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    field("txtImagesFolder")->setText(chosen);
}

void frmSettings::browseWatermarkImage()
{
    const QString chosen = pickImageFile();
    if (chosen.isEmpty())
        return;
    field("txtWatermarkImage")->setText(chosen);
    m_form.setWatermarkImage(chosen);
    ShowWatermarkSample();
}

void frmSettings::browseFrame()
{
    const QString chosen = pickImageFile();
    if (chosen.isEmpty())
        return;
    setFieldText(field("txtFrameEffectSliceFile"), chosen);
    ShowEffectsSample();
}

void frmSettings::browseVignette()
{
    const QString chosen = pickImageFile();
    if (chosen.isEmpty())
        return;
    setFieldText(field("txtVignetteEffectFile"), chosen);
    {
        // Ticking the mask is part of choosing it: one sample for both.
        auto* vignette = findChild<QCheckBox*>(QStringLiteral("chkVignette"));
        const QSignalBlocker blocker(vignette);
        vignette->setChecked(true);
    }
    ShowEffectsSample();
}

void frmSettings::removeWatermarkImage()
{
    m_previewsEnabled = false;
    field("txtWatermarkImage")->clear();
    m_form.removeWatermarkImage();
    setFieldText(field("txtWatermarkImageLeft"), QStringLiteral("1"));
    setFieldText(field("txtWatermarkImageTop"), QStringLiteral("1"));
    m_previewsEnabled = true;
    ShowWatermarkSample();
}

void frmSettings::placeWatermarkImage(Corner corner)
{
    const auto position = m_form.placeWatermarkImage(corner);
    if (!position)
        return;
    setFieldText(field("txtWatermarkImageLeft"), QString::number(position->x()));
    setFieldText(field("txtWatermarkImageTop"), QString::number(position->y()));
    if (corner == Corner::BottomLeft || corner == Corner::BottomRight) {
        setFieldText(field("txtImageWidth"), QString::number(m_services.settings.ImageWidth));
        setFieldText(field("txtImageHeight"), QString::number(m_services.settings.ImageHeight));
    }
    ShowWatermarkSample();
}

} // namespace Settings
