#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "common/result.h"

namespace Settings {

class Hive;

// The live settings: one record whose fields carry the names of the stored settings values. Numbers, flags
// (0 off, 1 on) and colours (0x00BBGGRR) are qint32; texts and paths QString; the two font flags bool. The
// record is all zero and empty until the first LoadSettings fills it. The main window's position values
// are read by the main window itself and are not part of it.
struct LiveSettings final {
    // Admin server
    QString AdminURL;
    QString AdminUserID;
    QString AdminPassword;

    // Capture and batch
    qint32 Timeout = 0; // capture time-out, milliseconds
    qint32 SlotTimeoutSeconds = 0; // the batch's watchdog per slot, seconds (from the stored "Timeout")
    qint32 DelayTime = 0; // milliseconds
    qint32 FastDelay = 0; // the delay runs in the page's clock, bounded by real time
    qint32 CheckBlankPages = 0; // a blank capture is tried again, then ends as blank
    qint32 EnableJava = 0;
    qint32 EnableActiveX = 0;
    qint32 EnableScript = 0;
    qint32 DismissCookieBanners = 0; // with scripts on, consent walls are answered before the capture
    qint32 ThreadsCount = 0;
    // The most memory the program and its local browsers may hold, in MB; 0: half the machine's memory.
    qint32 MemoryBudget = 0;
    QString IgnoreFiles;
    // DevTools endpoints of the browsers a batch run captures on (see Capture::parseBrowserEndpoints);
    // empty: the local browser alone.
    QString BrowserEndpoints;
    qint32 SnapWidth = 0;
    qint32 SnapHeight = 0;
    qint32 SnapDimension = 0;
    qint32 SetForceSnap = 0;
    qint32 MaxViewerCount = 0;
    qint32 MaxListingCount = 0;
    // The runs the run history keeps, and the wrong runs in a row that make a link failing.
    qint32 HistoryRuns = 0;
    qint32 FailingRuns = 0;

    // Thumbnail image
    qint32 ImageType = 0;
    qint32 JpegQuality = 0;
    qint32 ImageWidth = 0;
    qint32 ImageHeight = 0;
    qint32 ImageAspect = 0;
    QString ImagesFolder;
    qint32 WatermarkGray = 0;
    qint32 WatermarkBlackWhite = 0;

    // Watermark
    QString WatermarkText;
    qint32 WatermarkX = 0;
    qint32 WatermarkY = 0;
    QString WatermarkFontname;
    qint32 WatermarkFontSize = 0;
    qint32 WatermarkForeColor = 0;
    bool WatermarkFontBold = false;
    bool WatermarkFontItalic = false;
    qint32 WatermarkStyleColor = 0;
    qint32 WatermarkStyle = 0;
    QString WatermarkImage;
    qint32 WatermarkImageLeft = 0;
    qint32 WatermarkImageTop = 0;
    qint32 WatermarkImageWidth = 0;
    qint32 WatermarkImageHeight = 0;

    // Filters
    qint32 FilterAntialias = 0;
    qint32 FilterColorCorrect = 0;
    qint32 FilterColorEmboss = 0;
    qint32 FilterEnhanceEdge = 0;
    qint32 FilterHighPass = 0;
    qint32 FilterLowPass = 0;
    qint32 FilterMelt = 0;
    qint32 FilterNegative = 0;
    qint32 FilterSharpen = 0;
    qint32 FilterSoften = 0;
    qint32 FilterSoftenMore = 0;
    qint32 FilterCompress = 0;
    qint32 FilterConvolution = 0;

    // Effects
    qint32 EffectErodeBorder = 0;
    qint32 EffectFadeBorder = 0;
    qint32 EffectFishEye = 0;
    qint32 EffectFrameSolid = 0;
    qint32 EffectFrame = 0;
    qint32 EffectIrregularBorder = 0;
    qint32 EffectShadowCanvas = 0;
    qint32 EffectPerspectiveHorizontal = 0;
    qint32 EffectPerspectiveVertical = 0;
    qint32 EffectRandomShear = 0;
    qint32 EffectRotate = 0;
    qint32 EffectSkewHorizontally = 0;
    qint32 EffectSkewVertically = 0;
    qint32 EffectTint = 0;
    qint32 EffectTwirl = 0;
    qint32 EffectTwist = 0;
    qint32 EffectVignette = 0;
    qint32 RotateEffects = 0;

    // Effect parameters
    qint32 ErodeBorderColor = 0;
    qint32 ErodeBorderSize = 0;
    qint32 FadeBorderColor = 0;
    qint32 FadeBorderSize = 0;
    qint32 FishEyeColor = 0;
    qint32 FrameSolidColor = 0;
    qint32 FrameSolidColor1 = 0;
    qint32 FrameSolidSize = 0;
    QString FrameEffectSliceFile;
    qint32 IrregularBorderColor = 0;
    qint32 IrregularBorderSize = 0;
    qint32 ShadowCanvasColor = 0;
    qint32 ShadowCanvasShadow = 0;
    qint32 ShadowCanvasSize = 0;
    qint32 ShadowCanvasBlur = 0;
    qint32 PerspectiveHorizontalColor = 0;
    qint32 PerspectiveHorizontalSize = 0;
    qint32 PerspectiveVerticalColor = 0;
    qint32 PerspectiveVerticalSize = 0;
    qint32 RandomShearColor = 0;
    qint32 RandomShearSize = 0;
    qint32 RotateColor = 0;
    qint32 RotateAngle = 0;
    qint32 SkewHorizontallyColor = 0;
    qint32 SkewHorizontallyAngle = 0;
    qint32 SkewVerticallyColor = 0;
    qint32 SkewVerticallyAngle = 0;
    qint32 TintColor = 0;
    qint32 TwirlColor = 0;
    qint32 TwirlAngle = 0;
    qint32 TwistColor = 0;
    qint32 TwistAngle = 0;
    qint32 VignetteColor = 0;
    QString VignetteEffectFile;

    // Other windows
    qint32 ImportLinksMode = 0;
    qint32 ImportLinksPeriod = 0;
    QString ViewerFolder;
    qint32 ViewerPageSize = 0;
    QString SnapshotterAddress;
    qint32 SnapshotterWidth = 0;
    qint32 SnapshotterHeight = 0;
    qint32 UploadConnections = 0;
    qint32 UploadConnectionFiles = 0;

    friend bool operator==(const LiveSettings&, const LiveSettings&) = default;
};

// Reads every field from the settings key of the hive, one ReadSetting each. A value that is absent, or
// that does not convert to its field's type, gives the field's default. The defaults of ImagesFolder,
// ViewerFolder, FrameEffectSliceFile and VignetteEffectFile are computed from programFolder (the program's
// folder with a trailing "/") at every load, so a store that lacks them follows the program when it moves.
// The two shipped images (FrameEffectSliceFile, VignetteEffectFile) default to shippedFolder, which is the
// program folder when empty. A blank ImagesFolder or ViewerFolder also gives its default.
LiveSettings LoadSettings(Hive& hive, const QString& programFolder, const QString& shippedFolder = {});

// Sets one field from a text as LoadSettings would convert it had it been stored ("Timeout" sets the
// watchdog too), for this process only: nothing is stored. Key names match in any case, as the
// registry's do. Fails for a key that names no field, for a value that does not convert and for a blank
// ImagesFolder or ViewerFolder.
Common::Status overrideSetting(LiveSettings& settings, const QString& key, const QString& value);

// Every key overrideSetting takes, spelt as stored ("ThreadsCount"): the names the shell completes.
QStringList settingNames();

} // namespace Settings
