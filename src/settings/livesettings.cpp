#include "settings/livesettings.h"

#include <optional>

#include <QMetaType>
#include <QVariant>

#include "settings/passwordstore.h"
#include "settings/settingsstore.h"

namespace Settings {

namespace {

    struct LongSetting final {
        const char* key;
        qint32 LiveSettings::*field;
        qint32 defaultValue;
    };

    struct FlagSetting final {
        const char* key;
        bool LiveSettings::*field;
        bool defaultValue;
    };

    // Where a default that names a file or folder lies.
    enum class Under { Nowhere, ProgramFolder, ShippedFiles };

    struct TextSetting final {
        const char* key;
        QString LiveSettings::*field;
        const char* defaultValue;
        Under under;
    };

    constexpr qint32 kWhite = 16777215;
    constexpr qint32 kDefaultTimeoutMs = 40000;
    constexpr qint32 kDefaultWatchdogSeconds = 60;
    constexpr qint32 kWatchdogMarginSeconds = 20;

    // "Timeout" and the watchdog are filled separately below.
    const LongSetting kLongSettings[] = {
        { "DelayTime", &LiveSettings::DelayTime, 1000 },
        { "FastDelay", &LiveSettings::FastDelay, 1 },
        { "CheckBlankPages", &LiveSettings::CheckBlankPages, 1 },
        { "EnableJava", &LiveSettings::EnableJava, 0 },
        { "EnableActiveX", &LiveSettings::EnableActiveX, 0 },
        { "EnableScript", &LiveSettings::EnableScript, 0 },
        { "DismissCookieBanners", &LiveSettings::DismissCookieBanners, 1 },
        { "ThreadsCount", &LiveSettings::ThreadsCount, 4 },
        { "MemoryBudget", &LiveSettings::MemoryBudget, 0 },
        { "SnapWidth", &LiveSettings::SnapWidth, 0 },
        { "SnapHeight", &LiveSettings::SnapHeight, 0 },
        { "SnapDimension", &LiveSettings::SnapDimension, 0 },
        { "SetForceSnap", &LiveSettings::SetForceSnap, 0 },
        { "MaxViewerCount", &LiveSettings::MaxViewerCount, 1000 },
        { "MaxListingCount", &LiveSettings::MaxListingCount, 1000000 },
        { "HistoryRuns", &LiveSettings::HistoryRuns, 12 },
        { "FailingRuns", &LiveSettings::FailingRuns, 3 },

        { "ImageType", &LiveSettings::ImageType, 0 },
        { "JpegQuality", &LiveSettings::JpegQuality, 80 },
        { "ImageWidth", &LiveSettings::ImageWidth, 120 },
        { "ImageHeight", &LiveSettings::ImageHeight, 90 },
        { "ImageAspect", &LiveSettings::ImageAspect, 0 },
        { "WatermarkGray", &LiveSettings::WatermarkGray, 0 },
        { "WatermarkBlackWhite", &LiveSettings::WatermarkBlackWhite, 0 },

        { "WatermarkX", &LiveSettings::WatermarkX, 4 },
        { "WatermarkY", &LiveSettings::WatermarkY, 4 },
        { "WatermarkFontSize", &LiveSettings::WatermarkFontSize, 9 },
        { "WatermarkForeColor", &LiveSettings::WatermarkForeColor, 255 },
        { "WatermarkStyleColor", &LiveSettings::WatermarkStyleColor, 65535 },
        { "WatermarkStyle", &LiveSettings::WatermarkStyle, 4 },
        { "WatermarkImageLeft", &LiveSettings::WatermarkImageLeft, 1 },
        { "WatermarkImageTop", &LiveSettings::WatermarkImageTop, 1 },
        { "WatermarkImageWidth", &LiveSettings::WatermarkImageWidth, 30 },
        { "WatermarkImageHeight", &LiveSettings::WatermarkImageHeight, 25 },

        { "FilterAntialias", &LiveSettings::FilterAntialias, 0 },
        { "FilterColorCorrect", &LiveSettings::FilterColorCorrect, 0 },
        { "FilterColorEmboss", &LiveSettings::FilterColorEmboss, 0 },
        { "FilterEnhanceEdge", &LiveSettings::FilterEnhanceEdge, 0 },
        { "FilterHighPass", &LiveSettings::FilterHighPass, 0 },
        { "FilterLowPass", &LiveSettings::FilterLowPass, 0 },
        { "FilterMelt", &LiveSettings::FilterMelt, 0 },
        { "FilterNegative", &LiveSettings::FilterNegative, 0 },
        { "FilterSharpen", &LiveSettings::FilterSharpen, 0 },
        { "FilterSoften", &LiveSettings::FilterSoften, 0 },
        { "FilterSoftenMore", &LiveSettings::FilterSoftenMore, 0 },
        { "FilterCompress", &LiveSettings::FilterCompress, 0 },
        { "FilterConvolution", &LiveSettings::FilterConvolution, 0 },

        { "EffectErodeBorder", &LiveSettings::EffectErodeBorder, 0 },
        { "EffectFadeBorder", &LiveSettings::EffectFadeBorder, 0 },
        { "EffectFishEye", &LiveSettings::EffectFishEye, 0 },
        { "EffectFrameSolid", &LiveSettings::EffectFrameSolid, 0 },
        { "EffectFrame", &LiveSettings::EffectFrame, 0 },
        { "EffectIrregularBorder", &LiveSettings::EffectIrregularBorder, 0 },
        { "EffectShadowCanvas", &LiveSettings::EffectShadowCanvas, 0 },
        { "EffectPerspectiveHorizontal", &LiveSettings::EffectPerspectiveHorizontal, 0 },
        { "EffectPerspectiveVertical", &LiveSettings::EffectPerspectiveVertical, 0 },
        { "EffectRandomShear", &LiveSettings::EffectRandomShear, 0 },
        { "EffectRotate", &LiveSettings::EffectRotate, 0 },
        { "EffectSkewHorizontally", &LiveSettings::EffectSkewHorizontally, 0 },
        { "EffectSkewVertically", &LiveSettings::EffectSkewVertically, 0 },
        { "EffectTint", &LiveSettings::EffectTint, 0 },
        { "EffectTwirl", &LiveSettings::EffectTwirl, 0 },
        { "EffectTwist", &LiveSettings::EffectTwist, 0 },
        { "EffectVignette", &LiveSettings::EffectVignette, 0 },
        { "RotateEffects", &LiveSettings::RotateEffects, 0 },

        { "ErodeBorderColor", &LiveSettings::ErodeBorderColor, kWhite },
        { "ErodeBorderSize", &LiveSettings::ErodeBorderSize, 8 },
        { "FadeBorderColor", &LiveSettings::FadeBorderColor, kWhite },
        { "FadeBorderSize", &LiveSettings::FadeBorderSize, 6 },
        { "FishEyeColor", &LiveSettings::FishEyeColor, kWhite },
        { "FrameSolidColor", &LiveSettings::FrameSolidColor, 5197647 },
        { "FrameSolidColor1", &LiveSettings::FrameSolidColor1, 13619151 },
        { "FrameSolidSize", &LiveSettings::FrameSolidSize, 6 },
        { "IrregularBorderColor", &LiveSettings::IrregularBorderColor, kWhite },
        { "IrregularBorderSize", &LiveSettings::IrregularBorderSize, 10 },
        { "ShadowCanvasColor", &LiveSettings::ShadowCanvasColor, 14671839 },
        { "ShadowCanvasShadow", &LiveSettings::ShadowCanvasShadow, 4144959 },
        { "ShadowCanvasSize", &LiveSettings::ShadowCanvasSize, 4 },
        { "ShadowCanvasBlur", &LiveSettings::ShadowCanvasBlur, 8 },
        { "PerspectiveHorizontalColor", &LiveSettings::PerspectiveHorizontalColor, kWhite },
        { "PerspectiveHorizontalSize", &LiveSettings::PerspectiveHorizontalSize, 20 },
        { "PerspectiveVerticalColor", &LiveSettings::PerspectiveVerticalColor, kWhite },
        { "PerspectiveVerticalSize", &LiveSettings::PerspectiveVerticalSize, 20 },
        { "RandomShearColor", &LiveSettings::RandomShearColor, kWhite },
        { "RandomShearSize", &LiveSettings::RandomShearSize, 20 },
        { "RotateColor", &LiveSettings::RotateColor, kWhite },
        { "RotateAngle", &LiveSettings::RotateAngle, 20 },
        { "SkewHorizontallyColor", &LiveSettings::SkewHorizontallyColor, kWhite },
        { "SkewHorizontallyAngle", &LiveSettings::SkewHorizontallyAngle, 20 },
        { "SkewVerticallyColor", &LiveSettings::SkewVerticallyColor, kWhite },
        { "SkewVerticallyAngle", &LiveSettings::SkewVerticallyAngle, 20 },
        { "TintColor", &LiveSettings::TintColor, 4144959 },
        { "TwirlColor", &LiveSettings::TwirlColor, kWhite },
        { "TwirlAngle", &LiveSettings::TwirlAngle, 10 },
        { "TwistColor", &LiveSettings::TwistColor, kWhite },
        { "TwistAngle", &LiveSettings::TwistAngle, 10 },
        { "VignetteColor", &LiveSettings::VignetteColor, kWhite },

        { "ImportLinksMode", &LiveSettings::ImportLinksMode, 1 },
        { "ImportLinksPeriod", &LiveSettings::ImportLinksPeriod, 5 },
        { "ViewerPageSize", &LiveSettings::ViewerPageSize, 500 },
        { "SnapshotterWidth", &LiveSettings::SnapshotterWidth, 120 },
        { "SnapshotterHeight", &LiveSettings::SnapshotterHeight, 90 },
        { "UploadConnections", &LiveSettings::UploadConnections, 2 },
        { "UploadConnectionFiles", &LiveSettings::UploadConnectionFiles, 10 },
    };

    const FlagSetting kFlagSettings[] = {
        { "WatermarkFontBold", &LiveSettings::WatermarkFontBold, true },
        { "WatermarkFontItalic", &LiveSettings::WatermarkFontItalic, false },
    };

    const TextSetting kTextSettings[] = {
        { "AdminURL", &LiveSettings::AdminURL, "http://www.corvane.com/cgi-bin/dir/admin.cgi", Under::Nowhere },
        { "AdminUserID", &LiveSettings::AdminUserID, "admin", Under::Nowhere },
        { "AdminPassword", &LiveSettings::AdminPassword, "", Under::Nowhere },
        // Letter for letter as it has always shipped, the mixed case and the doubled ".tiff" included.
        // clang-format off
        { "IgnoreFiles", &LiveSettings::IgnoreFiles, ".exe,.zip,.tar,.gz,.tgz,.rar,.gif,.jpg,.JIF,.JPEG,.JPE,.jng,.bmp,.ico,.png,.tif,.tiff,.tiff,.pcd,.pcx,.psd,.wbmp,.xbm,.xpm,.ras,.sgi,.tga,.ppm,.pgm,.pbm,.mng,.koa,.iff,.lbm,.hdr,.g3,.dds,.cut", Under::Nowhere },
        // clang-format on
        { "ImagesFolder", &LiveSettings::ImagesFolder, "snapshots", Under::ProgramFolder },
        { "BrowserEndpoints", &LiveSettings::BrowserEndpoints, "", Under::Nowhere },
        { "WatermarkText", &LiveSettings::WatermarkText, "Corvane", Under::Nowhere },
        { "WatermarkFontname", &LiveSettings::WatermarkFontname, "Arial", Under::Nowhere },
        { "WatermarkImage", &LiveSettings::WatermarkImage, "", Under::Nowhere },
        { "FrameEffectSliceFile", &LiveSettings::FrameEffectSliceFile, "FrameEffectSlice.jpg", Under::ShippedFiles },
        { "VignetteEffectFile", &LiveSettings::VignetteEffectFile, "VignetteEffect.jpg", Under::ShippedFiles },
        { "ViewerFolder", &LiveSettings::ViewerFolder, "snapshots", Under::ProgramFolder },
        { "SnapshotterAddress", &LiveSettings::SnapshotterAddress, "www.corvane.com", Under::Nowhere },
    };

    // A text field takes text as it is and a stored number as its decimal form; binary data is not text.
    std::optional<QString> toText(const QVariant& v)
    {
        switch (v.typeId()) {
        case QMetaType::QString:
            return v.toString();
        case QMetaType::Int:
            return QString::number(v.toInt());
        default:
            return std::nullopt;
        }
    }

    // The watchdog must never end a capture that the engine is still allowed to run. Every writer
    // stores "Timeout" in milliseconds, so the watchdog takes that time-out rounded up to whole seconds
    // plus a margin of its own; the default time-out (40000 ms) gives the default watchdog of 60 s.
    qint32 watchdogSeconds(qint32 timeoutMs)
    {
        const qint64 seconds = (qint64(qMax(timeoutMs, 0)) + 999) / 1000;
        return qint32(seconds + kWatchdogMarginSeconds);
    }

} // namespace

LiveSettings LoadSettings(Hive& hive, const QString& programFolder, const QString& shippedFolder)
{
    const QString app = appKeyPath();
    const QString section = settingsSection();
    const auto read = [&](const char* key, const QVariant& defaultValue) {
        return ReadSetting(hive, app, section, QLatin1String(key), defaultValue);
    };

    LiveSettings settings;

    settings.Timeout = toLong(read("Timeout", kDefaultTimeoutMs)).value_or(kDefaultTimeoutMs);
    // Read again without a default of its own, so that an absent value is told apart from a stored one.
    const std::optional<qint32> storedTimeout = toLong(read("Timeout", QVariant()));
    settings.SlotTimeoutSeconds = storedTimeout ? watchdogSeconds(*storedTimeout) : kDefaultWatchdogSeconds;

    for (const LongSetting& setting : kLongSettings)
        settings.*setting.field = toLong(read(setting.key, setting.defaultValue)).value_or(setting.defaultValue);

    // The font flags' defaults are handed over as the numbers 1 and 0, as they are stored.
    for (const FlagSetting& setting : kFlagSettings)
        settings.*setting.field
            = toBoolean(read(setting.key, setting.defaultValue ? 1 : 0)).value_or(setting.defaultValue);

    for (const TextSetting& setting : kTextSettings) {
        QString defaultValue = QLatin1String(setting.defaultValue);
        if (setting.under == Under::ProgramFolder)
            defaultValue.prepend(programFolder);
        else if (setting.under == Under::ShippedFiles)
            defaultValue.prepend(shippedFolder.isEmpty() ? programFolder : shippedFolder);
        QString value = toText(read(setting.key, defaultValue)).value_or(defaultValue);
        // A folder left blank is no folder at all: its files would land in the root of the file system.
        if (setting.under == Under::ProgramFolder && value.trimmed().isEmpty())
            value = defaultValue;
        settings.*setting.field = value;
    }
    // A copy the store kept after the password moved to the keyring (its removal failed) is out of date.
    if (PasswordStore::storedPlace(hive) == PasswordStore::Place::Keyring)
        settings.AdminPassword.clear();

    return settings;
}

Common::Status overrideSetting(LiveSettings& settings, const QString& key, const QString& value)
{
    const auto named = [&key](const char* name) { return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; };
    const auto unconvertible = [&](const char* type) {
        return Common::Error { 0, QStringLiteral("overrideSetting"),
            QStringLiteral("The value \"%1\" of %2 is not %3").arg(value, key, QLatin1String(type)) };
    };

    if (named("Timeout")) {
        const std::optional<qint32> timeout = toLong(value);
        if (!timeout)
            return unconvertible("a whole number");
        settings.Timeout = *timeout;
        settings.SlotTimeoutSeconds = watchdogSeconds(*timeout);
        return Common::success();
    }
    for (const LongSetting& setting : kLongSettings) {
        if (!named(setting.key))
            continue;
        const std::optional<qint32> number = toLong(value);
        if (!number)
            return unconvertible("a whole number");
        settings.*setting.field = *number;
        return Common::success();
    }
    for (const FlagSetting& setting : kFlagSettings) {
        if (!named(setting.key))
            continue;
        const std::optional<bool> flag = toBoolean(value);
        if (!flag)
            return unconvertible("True, False or a number");
        settings.*setting.field = *flag;
        return Common::success();
    }
    for (const TextSetting& setting : kTextSettings) {
        if (named(setting.key)) {
            if (setting.under == Under::ProgramFolder && value.trimmed().isEmpty())
                return Common::Error { 0, QStringLiteral("overrideSetting"),
                    QStringLiteral("%1 needs a folder, not an empty value").arg(key) };
            settings.*setting.field = value;
            return Common::success();
        }
    }
    return Common::Error { 0, QStringLiteral("overrideSetting"),
        QStringLiteral("There is no setting named %1").arg(key) };
}

QStringList settingNames()
{
    QStringList names { QStringLiteral("Timeout") };
    for (const LongSetting& setting : kLongSettings)
        names.append(QLatin1String(setting.key));
    for (const FlagSetting& setting : kFlagSettings)
        names.append(QLatin1String(setting.key));
    for (const TextSetting& setting : kTextSettings)
        names.append(QLatin1String(setting.key));
    return names;
}

} // namespace Settings
