#include "settings/settingsform.h"

#include <functional>
#include <utility>

#include <QRegularExpression>

#include "common/numbers.h"
#include "imaging/pictureviewerpro.h"
#include "settings/livesettings.h"
#include "settings/settingsstore.h"

namespace Settings {

const std::array<EffectControl, Imaging::EffectCount> kEffectControls = { {
    { "chkErodeBorder", "Erode Border", "txtErodeBorderSize", "Size:", "picErodeBorderColor" },
    { "chkFadeBorder", "Fade Border", "txtFadeBorderSize", "Size:", "picFadeBorderColor" },
    { "chkFishEye", "Fish Eye", nullptr, nullptr, "picFishEyeColor" },
    { "chkFrameSolid", "Frame Solid", "txtFrameSolidSize", "Size:", "picFrameSolidColor" },
    { "chkFrame", "Frame Image (Select frame slice image file)", nullptr, nullptr, nullptr },
    { "chkIrregularBorder", "Irregular Border", "txtIrregularBorderSize", "Size:", "picIrregularBorderColor" },
    { "chkShadowCanvas", "Shadow Canvas", "txtShadowCanvasSize", "Size:", "picShadowCanvasColor" },
    { "chkPerspectiveHorizontal", "Perspective Horizontal", "txtPerspectiveHorizontalSize",
        "Size:", "picPerspectiveHorizontalColor" },
    { "chkPerspectiveVertical", "Perspective Vertical", "txtPerspectiveVerticalSize",
        "Size:", "picPerspectiveVerticalColor" },
    { "chkRandomShear", "Random Shear", "txtRandomShearSize", "Size:", "picRandomShearColor" },
    { "chkRotate", "Rotate", "txtRotateAngle", "Angle:", "picRotateColor" },
    { "chkSkewHorizontally", "Skew Horizontally", "txtSkewHorizontallyAngle", "Angle:", "picSkewHorizontallyColor" },
    { "chkSkewVertically", "Skew Vertically", "txtSkewVerticallyAngle", "Angle:", "picSkewVerticallyColor" },
    { "chkTint", "Tint", nullptr, nullptr, "picTintColor" },
    { "chkTwirl", "Twirl", "txtTwirlAngle", "Angle:", "picTwirlColor" },
    { "chkTwist", "Twist", "txtTwistAngle", "Angle:", "picTwistColor" },
    { "chkVignette", "Vignette (Mask)", nullptr, nullptr, "picVignetteColor" },
} };

const std::array<FilterControl, 13> kFilterControls = { {
    { "chkFilterAntialias", "Antialias" },
    { "chkFilterColorCorrect", "Color correct" },
    { "chkFilterColorEmboss", "Color Emboss" },
    { "chkFilterEnhanceEdge", "Enhance Edge" },
    { "chkFilterHighPass", "High Pass" },
    { "chkFilterLowPass", "Low Pass" },
    { "chkFilterMelt", "Melt" },
    { "chkFilterNegative", "Negative" },
    { "chkFilterSharpen", "Sharpen" },
    { "chkFilterSoften", "Soften" },
    { "chkFilterSoftenMore", "Soften More" },
    { "chkFilterCompress", "Compress" },
    { "chkFilterConvolution", "Convolution" },
} };

const std::array<const char*, 18> kSwatches
    = { "picErodeBorderColor", "picFadeBorderColor", "picFishEyeColor", "picFrameSolidColor", "picFrameSolidColor1",
          "picIrregularBorderColor", "picShadowCanvasColor", "picShadowCanvasShadow", "picPerspectiveHorizontalColor",
          "picPerspectiveVerticalColor", "picRandomShearColor", "picRotateColor", "picSkewHorizontallyColor",
          "picSkewVerticallyColor", "picTintColor", "picTwirlColor", "picTwistColor", "picVignetteColor" };

const std::array<const char*, 14> kSizeFields
    = { "txtErodeBorderSize", "txtFadeBorderSize", "txtFrameSolidSize", "txtIrregularBorderSize", "txtShadowCanvasSize",
          "txtShadowCanvasBlur", "txtPerspectiveHorizontalSize", "txtPerspectiveVerticalSize", "txtRandomShearSize",
          "txtRotateAngle", "txtSkewHorizontallyAngle", "txtSkewVerticallyAngle", "txtTwirlAngle", "txtTwistAngle" };

const std::array<int, Imaging::EffectCount> kPreviewEffectOrder
    = { 0, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 3, 4 };

namespace {

    // A control is named for its setting: a three-letter kind, then the setting's name.
    QString settingOf(const char* control) { return QLatin1String(control).mid(3); }
    QString txt(const char* setting) { return QStringLiteral("txt") + QLatin1String(setting); }
    QString pic(const char* setting) { return QStringLiteral("pic") + QLatin1String(setting); }
    QString chk(const char* setting) { return QStringLiteral("chk") + QLatin1String(setting); }

    qint32 wholeValueOf(const QString& text) { return Common::toWholeNumber(Common::numericValue(text)); }

    // The number a field's numeric value is written as: whole numbers without a fraction.
    QVariant storedNumber(double value)
    {
        const qint32 whole = Common::toWholeNumber(value);
        return double(whole) == value ? QVariant(whole) : QVariant(value);
    }

    QString numberText(double value) { return storedNumber(value).toString(); }

    // The live settings' values and their keys, in the order Apply writes them.
    using LiveValue = std::pair<const char*, std::function<QVariant(const LiveSettings&)>>;
#define PICTAVO_LIVE(field)                                                                                            \
    LiveValue                                                                                                          \
    {                                                                                                                  \
#field, [](const LiveSettings& s) { return QVariant(s.field); }                                                \
    }
    const LiveValue kLiveWrites[] = {
        PICTAVO_LIVE(ThreadsCount),
        PICTAVO_LIVE(Timeout),
        PICTAVO_LIVE(DelayTime),
        PICTAVO_LIVE(MemoryBudget),
        PICTAVO_LIVE(FastDelay),
        PICTAVO_LIVE(CheckBlankPages),
        PICTAVO_LIVE(EnableJava),
        PICTAVO_LIVE(EnableActiveX),
        PICTAVO_LIVE(EnableScript),
        PICTAVO_LIVE(DismissCookieBanners),
        PICTAVO_LIVE(SetForceSnap),
        PICTAVO_LIVE(IgnoreFiles),
        PICTAVO_LIVE(BrowserEndpoints),
        PICTAVO_LIVE(SnapWidth),
        PICTAVO_LIVE(SnapHeight),
        PICTAVO_LIVE(SnapDimension),
        PICTAVO_LIVE(ImageWidth),
        PICTAVO_LIVE(ImageHeight),
        PICTAVO_LIVE(ImageType),
        PICTAVO_LIVE(JpegQuality),
        PICTAVO_LIVE(ImageAspect),
        PICTAVO_LIVE(ImagesFolder),
        PICTAVO_LIVE(WatermarkText),
        PICTAVO_LIVE(WatermarkX),
        PICTAVO_LIVE(WatermarkY),
        PICTAVO_LIVE(WatermarkFontname),
        PICTAVO_LIVE(WatermarkFontSize),
        PICTAVO_LIVE(WatermarkForeColor),
        PICTAVO_LIVE(WatermarkFontBold),
        PICTAVO_LIVE(WatermarkFontItalic),
        PICTAVO_LIVE(WatermarkStyleColor),
        PICTAVO_LIVE(WatermarkStyle),
        PICTAVO_LIVE(WatermarkGray),
        PICTAVO_LIVE(WatermarkBlackWhite),
        PICTAVO_LIVE(WatermarkImage),
        PICTAVO_LIVE(WatermarkImageLeft),
        PICTAVO_LIVE(WatermarkImageTop),
        PICTAVO_LIVE(WatermarkImageWidth),
        PICTAVO_LIVE(WatermarkImageHeight),
    };
#undef PICTAVO_LIVE

    // The live fields a control edits at once, by control name.
    using LiveField = qint32 LiveSettings::*;
    const QHash<QString, LiveField>& positionFields()
    {
        static const QHash<QString, LiveField> fields {
            { QStringLiteral("txtWatermarkX"), &LiveSettings::WatermarkX },
            { QStringLiteral("txtWatermarkY"), &LiveSettings::WatermarkY },
            { QStringLiteral("txtWatermarkImageLeft"), &LiveSettings::WatermarkImageLeft },
            { QStringLiteral("txtWatermarkImageTop"), &LiveSettings::WatermarkImageTop },
        };
        return fields;
    }

    // A number still being typed: a sign alone, or digits and a point that a fraction will follow.
    // Rewriting it as its value would take the keystroke away ("12." would become "12").
    bool isNumberInProgress(const QString& text)
    {
        static const QRegularExpression inProgress(QStringLiteral("^\\s*([+-]|[+-]?\\d*\\.)$"));
        return inProgress.match(text).hasMatch();
    }

    bool isSizeField(const QString& name)
    {
        for (const char* field : kSizeFields) {
            if (name == QLatin1String(field))
                return true;
        }
        return false;
    }

} // namespace

QString normalizeIgnoreFiles(const QString& text)
{
    QString flat = text.trimmed().toLower();
    flat.replace(QLatin1Char(','), QLatin1Char(' '));
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QStringList items;
    for (const QString& part : flat.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QString item = part.trimmed();
        if (item.isEmpty())
            continue;
        if (!item.startsWith(QLatin1Char('.')))
            item.prepend(QLatin1Char('.'));
        items << item;
    }
    return items.join(QLatin1Char(','));
}

QString pictureFileFilter()
{
    // clang-format off
    return QStringLiteral("All Picture Types|*.bmp;*.gif;*.jpg;*jpe;*.jpeg|Bitmaps (*.bmp)|*.bmp|GIF Images (*.gif)|*.gif|JPEG Images (*.jpg;*jpe;*.jpeg)|*.jpg;*.jpe;*.jpeg");
    // clang-format on
}

QPoint cornerPosition(Corner corner, QSize thumbnail, QSize stamp)
{
    const int right = thumbnail.width() - stamp.width();
    const int bottom = thumbnail.height() - stamp.height();
    switch (corner) {
    case Corner::TopLeft:
        return { 1, 1 };
    case Corner::TopRight:
        return { right, 1 };
    case Corner::BottomLeft:
        return { 1, bottom };
    case Corner::BottomRight:
        return { right, bottom };
    }
    return { 1, 1 };
}

Preview previewOfTab(int index)
{
    switch (index) {
    case 1:
        return Preview::Thumbnail;
    case 2:
        return Preview::Watermark;
    case 3:
        return Preview::Effects;
    case 4:
        return Preview::Filters;
    default:
        return Preview::None;
    }
}

SettingsForm::SettingsForm(LiveSettings& live, Hive& hive, QString programFolder)
    : m_live(live)
    , m_hive(hive)
    , m_programFolder(std::move(programFolder))
{
}

FormValues SettingsForm::load()
{
    if (m_live.ImagesFolder.isEmpty())
        m_live.ImagesFolder = m_programFolder + QStringLiteral("snapshots");

    FormValues v;
    const LiveSettings& s = m_live;
    v.set(QStringLiteral("chkEnableActiveX"), s.EnableActiveX != 0);
    v.set(QStringLiteral("chkEnableJava"), s.EnableJava != 0);
    v.set(QStringLiteral("chkEnableScript"), s.EnableScript != 0);
    v.set(QStringLiteral("chkDismissCookieBanners"), s.DismissCookieBanners != 0);
    v.set(QStringLiteral("chkSetForceSnap"), s.SetForceSnap != 0);
    v.set(QStringLiteral("chkFastDelay"), s.FastDelay != 0);
    v.set(QStringLiteral("chkCheckBlankPages"), s.CheckBlankPages != 0);
    v.set(QStringLiteral("chkSnapDimension"), s.SnapDimension != 0);
    v.set(QStringLiteral("txtTimeout"), QString::number(s.Timeout));
    v.set(QStringLiteral("txtDelayTime"), QString::number(s.DelayTime));
    v.set(QStringLiteral("txtMemoryBudget"), QString::number(s.MemoryBudget));
    v.set(QStringLiteral("txtSnapWidth"), QString::number(s.SnapWidth));
    v.set(QStringLiteral("txtSnapHeight"), QString::number(s.SnapHeight));
    v.set(QStringLiteral("ThreadsCountSlider"), s.ThreadsCount);
    v.set(QStringLiteral("txtIgnoreFiles"), s.IgnoreFiles);
    v.set(QStringLiteral("txtBrowserEndpoints"), s.BrowserEndpoints);
    v.set(QStringLiteral("cboImageType"), s.ImageType);
    v.set(QStringLiteral("JpegSlider"), s.JpegQuality);
    v.set(QStringLiteral("txtImageWidth"), QString::number(s.ImageWidth));
    v.set(QStringLiteral("txtImageHeight"), QString::number(s.ImageHeight));
    v.set(QStringLiteral("txtImagesFolder"), s.ImagesFolder);
    v.set(QStringLiteral("chkImageAspect"), s.ImageAspect != 0);
    v.set(QStringLiteral("chkImageGray"), s.WatermarkGray != 0);
    v.set(QStringLiteral("chkImageBlackAndWhite"), s.WatermarkBlackWhite != 0);
    v.set(QStringLiteral("cboDrawStyle"), s.WatermarkStyle);
    v.set(QStringLiteral("txtWatermarkText"), s.WatermarkText);
    v.set(QStringLiteral("txtWatermarkX"), QString::number(s.WatermarkX));
    v.set(QStringLiteral("txtWatermarkY"), QString::number(s.WatermarkY));
    v.set(QStringLiteral("txtWatermarkImage"), s.WatermarkImage);
    v.set(QStringLiteral("txtWatermarkImageLeft"), QString::number(s.WatermarkImageLeft));
    v.set(QStringLiteral("txtWatermarkImageTop"), QString::number(s.WatermarkImageTop));

    const auto filters = Imaging::filterFlagsFrom(s);
    const qint32 filterValues[] = { filters.FilterAntialias, filters.FilterColorCorrect, filters.FilterColorEmboss,
        filters.FilterEnhanceEdge, filters.FilterHighPass, filters.FilterLowPass, filters.FilterMelt,
        filters.FilterNegative, filters.FilterSharpen, filters.FilterSoften, filters.FilterSoftenMore,
        filters.FilterCompress, filters.FilterConvolution };
    for (std::size_t i = 0; i < kFilterControls.size(); ++i)
        v.set(QLatin1String(kFilterControls[i].check), filterValues[i] != 0);
    const auto effects = Imaging::effectFlagsFrom(s);
    for (std::size_t i = 0; i < kEffectControls.size(); ++i)
        v.set(QLatin1String(kEffectControls[i].check), effects[i] != 0);

    v.set(QStringLiteral("txtFrameEffectSliceFile"), s.FrameEffectSliceFile);
    v.set(QStringLiteral("txtVignetteEffectFile"), s.VignetteEffectFile);
    const Imaging::EffectParameters p = Imaging::effectParametersFrom(s);
    const qint32 colours[] = { p.ErodeBorderColor, p.FadeBorderColor, p.FishEyeColor, p.FrameSolidColor,
        p.FrameSolidColor1, p.IrregularBorderColor, p.ShadowCanvasColor, p.ShadowCanvasShadow,
        p.PerspectiveHorizontalColor, p.PerspectiveVerticalColor, p.RandomShearColor, p.RotateColor,
        p.SkewHorizontallyColor, p.SkewVerticallyColor, p.TintColor, p.TwirlColor, p.TwistColor, p.VignetteColor };
    for (std::size_t i = 0; i < kSwatches.size(); ++i)
        v.set(QLatin1String(kSwatches[i]), colours[i]);
    const double sizes[] = { double(p.ErodeBorderSize), double(p.FadeBorderSize), double(p.FrameSolidSize),
        double(p.IrregularBorderSize), double(p.ShadowCanvasSize), double(p.ShadowCanvasBlur),
        double(p.PerspectiveHorizontalSize), double(p.PerspectiveVerticalSize), double(p.RandomShearSize),
        p.RotateAngle, p.SkewHorizontallyAngle, p.SkewVerticallyAngle, double(p.TwirlAngle), double(p.TwistAngle) };
    for (std::size_t i = 0; i < kSizeFields.size(); ++i)
        v.set(QLatin1String(kSizeFields[i]), numberText(sizes[i]));
    v.set(QStringLiteral("chkRotateEffects"), s.RotateEffects != 0);
    v.set(QStringLiteral("txtMaxViewerCount"), QString::number(s.MaxViewerCount));
    v.set(QStringLiteral("txtViewerPageSize"), QString::number(s.ViewerPageSize));
    return v;
}

SettingsForm::Edit SettingsForm::textEdited(const QString& name, const QString& text)
{
    const bool numberField = name == QLatin1String("txtSnapWidth") || name == QLatin1String("txtSnapHeight");
    if ((numberField || isSizeField(name)) && isNumberInProgress(text))
        return { text, numberField ? Preview::None : Preview::Effects };
    if (numberField) {
        const double value = Common::numericValue(text);
        return { value < 0 ? QStringLiteral("0") : numberText(value), Preview::None };
    }
    if (name == QLatin1String("txtImageWidth")) {
        m_live.ImageWidth = wholeValueOf(text);
        return { text, Preview::Thumbnail };
    }
    if (name == QLatin1String("txtImageHeight")) {
        m_live.ImageHeight = wholeValueOf(text);
        return { text, Preview::Thumbnail };
    }
    if (isSizeField(name))
        return { numberText(Common::numericValue(text)), Preview::Effects };
    if (name == QLatin1String("txtWatermarkText")) {
        m_live.WatermarkText = text.trimmed();
        return { text, Preview::Watermark };
    }
    if (const auto field = positionFields().constFind(name); field != positionFields().constEnd()) {
        const qint32 value = std::max(1, wholeValueOf(text));
        m_live.*field.value() = value;
        return { QString::number(value), Preview::Watermark };
    }
    return { text, Preview::None };
}

Preview SettingsForm::clicked(const QString& name, qint32 value)
{
    if (name == QLatin1String("chkImageGray")) {
        m_live.WatermarkGray = value;
        return Preview::Thumbnail;
    }
    if (name == QLatin1String("chkImageBlackAndWhite")) {
        m_live.WatermarkBlackWhite = value;
        return Preview::Thumbnail;
    }
    if (name == QLatin1String("cboDrawStyle")) {
        m_live.WatermarkStyle = value;
        return Preview::Watermark;
    }
    for (const EffectControl& effect : kEffectControls) {
        if (name == QLatin1String(effect.check))
            return Preview::Effects;
    }
    for (const char* swatch : kSwatches) {
        if (name == QLatin1String(swatch))
            return Preview::Effects;
    }
    for (const FilterControl& filter : kFilterControls) {
        if (name == QLatin1String(filter.check))
            return Preview::Filters;
    }
    return Preview::None;
}

void SettingsForm::setWatermarkColour(const QString& setting, qint32 colour)
{
    if (setting == QLatin1String("WatermarkForeColor"))
        m_live.WatermarkForeColor = colour;
    else if (setting == QLatin1String("WatermarkStyleColor"))
        m_live.WatermarkStyleColor = colour;
}

void SettingsForm::setWatermarkFont(const QString& name, double points, bool bold, bool italic)
{
    m_live.WatermarkFontname = name;
    m_live.WatermarkFontSize = Common::toWholeNumber(points);
    m_live.WatermarkFontBold = bold;
    m_live.WatermarkFontItalic = italic;
}

void SettingsForm::setWatermarkImage(const QString& path) { m_live.WatermarkImage = path; }

void SettingsForm::removeWatermarkImage()
{
    m_live.WatermarkImage.clear();
    m_live.WatermarkImageLeft = 1;
    m_live.WatermarkImageTop = 1;
}

std::optional<QPoint> SettingsForm::placeWatermarkImage(Corner corner)
{
    if (m_live.WatermarkImage.isEmpty())
        return std::nullopt;
    if (corner != Corner::TopLeft) {
        // A stamp that cannot be read keeps the size it was last measured at.
        Imaging::PictureViewerPro stamp;
        if (stamp.load(m_live.WatermarkImage)) {
            m_live.WatermarkImageWidth = stamp.pixelWidth();
            m_live.WatermarkImageHeight = stamp.pixelHeight();
        }
    }
    return cornerPosition(corner, QSize(m_live.ImageWidth, m_live.ImageHeight),
        QSize(m_live.WatermarkImageWidth, m_live.WatermarkImageHeight));
}

void SettingsForm::save(const FormValues& c)
{
    LiveSettings& s = m_live;
    const auto on = [&](const QString& name) { return c.number(name) != 0 ? 1 : 0; };
    const auto text = [&](const char* name) { return c.text(QLatin1String(name)); };
    const auto whole = [&](const char* name) { return wholeValueOf(text(name)); };

    // Steps 1 to 6 fill the live settings from the controls.
    s.EnableActiveX = on(QStringLiteral("chkEnableActiveX"));
    s.EnableJava = on(QStringLiteral("chkEnableJava"));
    s.EnableScript = on(QStringLiteral("chkEnableScript"));
    s.DismissCookieBanners = on(QStringLiteral("chkDismissCookieBanners"));
    s.SetForceSnap = on(QStringLiteral("chkSetForceSnap"));
    s.FastDelay = on(QStringLiteral("chkFastDelay"));
    s.CheckBlankPages = on(QStringLiteral("chkCheckBlankPages"));
    s.SnapDimension = on(QStringLiteral("chkSnapDimension"));
    s.ThreadsCount = c.number(QStringLiteral("ThreadsCountSlider"));
    s.SnapWidth = whole("txtSnapWidth");
    s.SnapHeight = whole("txtSnapHeight");
    s.IgnoreFiles = normalizeIgnoreFiles(text("txtIgnoreFiles"));
    s.BrowserEndpoints = text("txtBrowserEndpoints").trimmed();
    s.WatermarkGray = on(QStringLiteral("chkImageGray"));
    s.WatermarkBlackWhite = on(QStringLiteral("chkImageBlackAndWhite"));
    s.Timeout = whole("txtTimeout");
    if (s.Timeout < 1)
        s.Timeout = 30000;
    s.DelayTime = std::max(0, whole("txtDelayTime"));
    s.MemoryBudget = std::max(0, whole("txtMemoryBudget"));
    // A size that is not a whole number keeps the one set while it was typed.
    if (const auto width = toLong(text("txtImageWidth")))
        s.ImageWidth = *width;
    if (const auto height = toLong(text("txtImageHeight")))
        s.ImageHeight = *height;
    // A stored type the list does not offer shows no item and is kept.
    if (c.number(QStringLiteral("cboImageType")) >= 0)
        s.ImageType = c.number(QStringLiteral("cboImageType"));
    if (c.contains(QStringLiteral("chkImageAspect")))
        s.ImageAspect = on(QStringLiteral("chkImageAspect"));
    s.JpegQuality = c.number(QStringLiteral("JpegSlider"));
    s.ImagesFolder = text("txtImagesFolder").trimmed();
    s.WatermarkText = text("txtWatermarkText").trimmed();
    if (const auto x = toLong(text("txtWatermarkX")))
        s.WatermarkX = *x;
    if (const auto y = toLong(text("txtWatermarkY")))
        s.WatermarkY = *y;
    s.WatermarkImage = text("txtWatermarkImage").trimmed();

    // Step 7: the live settings, one value at a time; a refused write does not stop the next.
    const QString app = appKeyPath();
    const QString section = settingsSection();
    const auto write
        = [&](const QString& key, const QVariant& value) { (void)WriteSetting(m_hive, app, section, key, value); };
    for (const auto& [key, value] : kLiveWrites)
        write(QLatin1String(key), value(s));

    // Step 8: straight from the controls.
    for (const FilterControl& filter : kFilterControls)
        write(settingOf(filter.check), on(QLatin1String(filter.check)));
    for (const EffectControl& effect : kEffectControls)
        write(QStringLiteral("Effect") + settingOf(effect.check), on(QLatin1String(effect.check)));
    for (const char* swatch : kSwatches)
        write(settingOf(swatch), c.number(QLatin1String(swatch)));
    for (const char* field : kSizeFields)
        write(settingOf(field), storedNumber(Common::numericValue(c.text(QLatin1String(field)))));
    write(QStringLiteral("FrameEffectSliceFile"), text("txtFrameEffectSliceFile").trimmed());
    write(QStringLiteral("VignetteEffectFile"), text("txtVignetteEffectFile").trimmed());
    write(QStringLiteral("RotateEffects"), on(QStringLiteral("chkRotateEffects")));
    write(QStringLiteral("MaxViewerCount"), storedNumber(Common::numericValue(text("txtMaxViewerCount"))));
    write(QStringLiteral("ViewerPageSize"), storedNumber(Common::numericValue(text("txtViewerPageSize"))));

    // Step 9.
    m_live = LoadSettings(m_hive, m_programFolder);
}

std::array<qint32, Imaging::EffectCount> SettingsForm::effectFlags(const FormValues& c) const
{
    std::array<qint32, Imaging::EffectCount> flags {};
    for (std::size_t i = 0; i < kEffectControls.size(); ++i)
        flags[i] = c.number(QLatin1String(kEffectControls[i].check)) != 0 ? 1 : 0;
    return flags;
}

Imaging::EffectParameters SettingsForm::effectParameters(const FormValues& c) const
{
    Imaging::EffectParameters p;
    p.ImageWidth = m_live.ImageWidth;
    p.ImageHeight = m_live.ImageHeight;
    const auto colour = [&](const char* name) { return c.number(pic(name)); };
    const auto size = [&](const char* name) { return wholeValueOf(c.text(txt(name))); };
    const auto angle = [&](const char* name) { return Common::numericValue(c.text(txt(name))); };
    p.ErodeBorderColor = colour("ErodeBorderColor");
    p.ErodeBorderSize = size("ErodeBorderSize");
    p.FadeBorderColor = colour("FadeBorderColor");
    p.FadeBorderSize = size("FadeBorderSize");
    p.FishEyeColor = colour("FishEyeColor");
    p.FrameSolidColor = colour("FrameSolidColor");
    p.FrameSolidColor1 = colour("FrameSolidColor1");
    p.FrameSolidSize = size("FrameSolidSize");
    p.FrameEffectSliceFile = c.text(QStringLiteral("txtFrameEffectSliceFile")).trimmed();
    p.IrregularBorderColor = colour("IrregularBorderColor");
    p.IrregularBorderSize = size("IrregularBorderSize");
    p.ShadowCanvasColor = colour("ShadowCanvasColor");
    p.ShadowCanvasShadow = colour("ShadowCanvasShadow");
    p.ShadowCanvasSize = size("ShadowCanvasSize");
    p.ShadowCanvasBlur = size("ShadowCanvasBlur");
    p.PerspectiveHorizontalColor = colour("PerspectiveHorizontalColor");
    p.PerspectiveHorizontalSize = size("PerspectiveHorizontalSize");
    p.PerspectiveVerticalColor = colour("PerspectiveVerticalColor");
    p.PerspectiveVerticalSize = size("PerspectiveVerticalSize");
    p.RandomShearColor = colour("RandomShearColor");
    p.RandomShearSize = size("RandomShearSize");
    p.RotateColor = colour("RotateColor");
    p.RotateAngle = angle("RotateAngle");
    p.SkewHorizontallyColor = colour("SkewHorizontallyColor");
    p.SkewHorizontallyAngle = angle("SkewHorizontallyAngle");
    p.SkewVerticallyColor = colour("SkewVerticallyColor");
    p.SkewVerticallyAngle = angle("SkewVerticallyAngle");
    p.TintColor = colour("TintColor");
    p.TwirlColor = colour("TwirlColor");
    p.TwirlAngle = size("TwirlAngle");
    p.TwistColor = colour("TwistColor");
    p.TwistAngle = size("TwistAngle");
    p.VignetteColor = colour("VignetteColor");
    p.VignetteEffectFile = c.text(QStringLiteral("txtVignetteEffectFile")).trimmed();
    return p;
}

Imaging::FilterFlags SettingsForm::filterFlags(const FormValues& c) const
{
    const auto on = [&](const char* setting) { return c.number(chk(setting)) != 0 ? 1 : 0; };
    return { on("FilterAntialias"), on("FilterColorCorrect"), on("FilterColorEmboss"), on("FilterEnhanceEdge"),
        on("FilterHighPass"), on("FilterLowPass"), on("FilterMelt"), on("FilterNegative"), on("FilterSharpen"),
        on("FilterSoften"), on("FilterSoftenMore"), on("FilterCompress"), on("FilterConvolution") };
}

} // namespace Settings
