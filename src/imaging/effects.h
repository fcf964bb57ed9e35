#pragma once

#include <array>

#include <QList>
#include <QString>
#include <QtGlobal>

#include "common/result.h"

namespace Imaging {

class PixTwix;

// The effects in their fixed order; the index is an effect's identity everywhere.
inline constexpr int EffectCount = 17;

struct Rgb final {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Splits a 0x00BBGGRR colour into its bytes. Colours outside 0..0xFFFFFF do not fit the six hex
// digits of that layout and give an error.
Common::Result<Rgb> ColorToRGB(qint32 colour);

// Halves a size the way the program rounds: to the nearest whole number, halves to even (121 -> 60).
int halfToEven(qint32 value);

// The run's effect state: the on/off flags frozen at the start of a run, and where the search for the
// next effect starts when one effect per image is applied in turn. One per run owner, no globals.
struct EffectsState final {
    std::array<qint32, EffectCount> EnabledEffects {};
    qint32 NextEffectIndex = 0;
};

// The settings an effect reads when it runs (colours 0x00BBGGRR), named as the live settings. Fill it
// with effectParametersFrom(liveSettings) for each image, so changes apply from the next image on. The
// rotate and skew angles may carry a fraction (the settings preview keeps the one typed in).
struct EffectParameters final {
    qint32 ImageWidth = 120;
    qint32 ImageHeight = 90;
    qint32 ErodeBorderColor = 0xffffff;
    qint32 ErodeBorderSize = 8;
    qint32 FadeBorderColor = 0xffffff;
    qint32 FadeBorderSize = 6;
    qint32 FishEyeColor = 0xffffff;
    qint32 FrameSolidColor = 0x4f4f4f;
    qint32 FrameSolidColor1 = 0xcfcfcf;
    qint32 FrameSolidSize = 6;
    QString FrameEffectSliceFile;
    qint32 IrregularBorderColor = 0xffffff;
    qint32 IrregularBorderSize = 10;
    qint32 ShadowCanvasColor = 0xdfdfdf;
    qint32 ShadowCanvasShadow = 0x3f3f3f;
    qint32 ShadowCanvasSize = 4;
    qint32 ShadowCanvasBlur = 8;
    qint32 PerspectiveHorizontalColor = 0xffffff;
    qint32 PerspectiveHorizontalSize = 20;
    qint32 PerspectiveVerticalColor = 0xffffff;
    qint32 PerspectiveVerticalSize = 20;
    qint32 RandomShearColor = 0xffffff;
    qint32 RandomShearSize = 20;
    qint32 RotateColor = 0xffffff;
    double RotateAngle = 20;
    qint32 SkewHorizontallyColor = 0xffffff;
    double SkewHorizontallyAngle = 20;
    qint32 SkewVerticallyColor = 0xffffff;
    double SkewVerticallyAngle = 20;
    qint32 TintColor = 0x3f3f3f;
    qint32 TwirlColor = 0xffffff;
    qint32 TwirlAngle = 10;
    qint32 TwistColor = 0xffffff;
    qint32 TwistAngle = 10;
    qint32 VignetteColor = 0xffffff;
    QString VignetteEffectFile;
};

// Copies the seventeen flags into the state and restarts the rotation at the first effect.
void PrepareEffects(EffectsState& state, const std::array<qint32, EffectCount>& flags);

// Applies effect index (0..16) to the working image with the arguments its table row gives. Any other
// index does nothing. Errors (a colour out of range, a size that overflows, a frame or mask file that is
// missing or unreadable, a failed operation) end that one effect silently.
void ProcessEffect(PixTwix& pixTwix, int index, const EffectParameters& parameters);

// The same as ProcessEffect but reporting why an effect did not apply (for tools and tests). A frame or
// mask path that is empty or names no file skips the effect and counts as success.
Common::Status applyEffect(PixTwix& pixTwix, int index, const EffectParameters& parameters);

// The effect indexes one image gets: every enabled one in order, or, with rotate on, the next enabled
// one from NextEffectIndex on (wrapping once), advancing NextEffectIndex past it.
QList<int> effectsForImage(EffectsState& state, bool rotate);

// Chooses the effects for one image and runs ProcessEffect on each.
void applyEffectsToImage(PixTwix& pixTwix, EffectsState& state, bool rotate, const EffectParameters& parameters);

// The seventeen Effect... flags of a settings record, in index order.
template <typename Settings> std::array<qint32, EffectCount> effectFlagsFrom(const Settings& s)
{
    return { s.EffectErodeBorder, s.EffectFadeBorder, s.EffectFishEye, s.EffectFrameSolid, s.EffectFrame,
        s.EffectIrregularBorder, s.EffectShadowCanvas, s.EffectPerspectiveHorizontal, s.EffectPerspectiveVertical,
        s.EffectRandomShear, s.EffectRotate, s.EffectSkewHorizontally, s.EffectSkewVertically, s.EffectTint,
        s.EffectTwirl, s.EffectTwist, s.EffectVignette };
}

template <typename Settings> EffectParameters effectParametersFrom(const Settings& s)
{
    EffectParameters p;
    p.ImageWidth = s.ImageWidth;
    p.ImageHeight = s.ImageHeight;
    p.ErodeBorderColor = s.ErodeBorderColor;
    p.ErodeBorderSize = s.ErodeBorderSize;
    p.FadeBorderColor = s.FadeBorderColor;
    p.FadeBorderSize = s.FadeBorderSize;
    p.FishEyeColor = s.FishEyeColor;
    p.FrameSolidColor = s.FrameSolidColor;
    p.FrameSolidColor1 = s.FrameSolidColor1;
    p.FrameSolidSize = s.FrameSolidSize;
    p.FrameEffectSliceFile = s.FrameEffectSliceFile;
    p.IrregularBorderColor = s.IrregularBorderColor;
    p.IrregularBorderSize = s.IrregularBorderSize;
    p.ShadowCanvasColor = s.ShadowCanvasColor;
    p.ShadowCanvasShadow = s.ShadowCanvasShadow;
    p.ShadowCanvasSize = s.ShadowCanvasSize;
    p.ShadowCanvasBlur = s.ShadowCanvasBlur;
    p.PerspectiveHorizontalColor = s.PerspectiveHorizontalColor;
    p.PerspectiveHorizontalSize = s.PerspectiveHorizontalSize;
    p.PerspectiveVerticalColor = s.PerspectiveVerticalColor;
    p.PerspectiveVerticalSize = s.PerspectiveVerticalSize;
    p.RandomShearColor = s.RandomShearColor;
    p.RandomShearSize = s.RandomShearSize;
    p.RotateColor = s.RotateColor;
    p.RotateAngle = s.RotateAngle;
    p.SkewHorizontallyColor = s.SkewHorizontallyColor;
    p.SkewHorizontallyAngle = s.SkewHorizontallyAngle;
    p.SkewVerticallyColor = s.SkewVerticallyColor;
    p.SkewVerticallyAngle = s.SkewVerticallyAngle;
    p.TintColor = s.TintColor;
    p.TwirlColor = s.TwirlColor;
    p.TwirlAngle = s.TwirlAngle;
    p.TwistColor = s.TwistColor;
    p.TwistAngle = s.TwistAngle;
    p.VignetteColor = s.VignetteColor;
    p.VignetteEffectFile = s.VignetteEffectFile;
    return p;
}

} // namespace Imaging
