#include "imaging/effects.h"

#include <limits>

#include <QCoreApplication>
#include <QFileInfo>

#include "imaging/imagefile.h"
#include "imaging/pixtwix.h"

namespace Imaging {

namespace {

    QString tr(const char* text) { return QCoreApplication::translate("Imaging", text); }

    Common::Error effectError(const QString& message)
    {
        return Common::Error { 0, QStringLiteral("Effects"), message };
    }

    // Runs operation(R, G, B) with the colour split, or reports why the colour cannot be split.
    template <typename Operation> Common::Status withColour(qint32 colour, Operation operation)
    {
        const auto rgb = ColorToRGB(colour);
        if (!rgb)
            return rgb.error();
        return operation(rgb.value());
    }

    // Loads the frame or mask picture as the secondary picture when the path names a file. A path that
    // is empty or names nothing skips the effect; a file that cannot be decoded is an error.
    Common::Result<bool> loadSecondary(PixTwix& pixTwix, const QString& path)
    {
        if (path.isEmpty() || !QFileInfo(path).isFile())
            return false;
        auto picture = loadForeignImage(path);
        if (!picture)
            return picture.error();
        pixTwix.setSecondaryPicture(picture.value());
        return true;
    }

} // namespace

Common::Result<Rgb> ColorToRGB(qint32 colour)
{
    if (colour < 0 || colour > 0xffffff)
        return effectError(tr("The colour %1 is not a 0x00BBGGRR colour.").arg(colour));
    return Rgb { colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff };
}

int halfToEven(qint32 value)
{
    int half = value / 2;
    if (value % 2 != 0 && half % 2 != 0)
        half += value > 0 ? 1 : -1;
    return half;
}

void PrepareEffects(EffectsState& state, const std::array<qint32, EffectCount>& flags)
{
    state.EnabledEffects = flags;
    state.NextEffectIndex = 0;
}

QList<int> effectsForImage(EffectsState& state, bool rotate)
{
    const auto enabled = [&](int index) { return state.EnabledEffects[size_t(index)] == 1; };
    QList<int> chosen;
    if (!rotate) {
        for (int index = 0; index < EffectCount; ++index) {
            if (enabled(index))
                chosen.append(index);
        }
        return chosen;
    }
    // A stale index from an edited state must not step outside the table.
    const int start = state.NextEffectIndex >= 0 && state.NextEffectIndex < EffectCount ? state.NextEffectIndex : 0;
    int found = -1;
    for (int index = start; index < EffectCount && found < 0; ++index) {
        if (enabled(index))
            found = index;
    }
    if (found < 0) {
        state.NextEffectIndex = 0;
        for (int index = 0; index < EffectCount && found < 0; ++index) {
            if (enabled(index))
                found = index;
        }
    }
    if (found < 0)
        return chosen;
    chosen.append(found);
    state.NextEffectIndex = found + 1 > EffectCount - 1 ? 0 : found + 1;
    return chosen;
}

Common::Status applyEffect(PixTwix& pixTwix, int index, const EffectParameters& p)
{
    const int centreX = halfToEven(p.ImageWidth);
    const int centreY = halfToEven(p.ImageHeight);
    switch (index) {
    case 0:
        return withColour(
            p.ErodeBorderColor, [&](Rgb c) { return pixTwix.erodeBorder(p.ErodeBorderSize, c.red, c.green, c.blue); });
    case 1:
        return withColour(
            p.FadeBorderColor, [&](Rgb c) { return pixTwix.fadeBorder(p.FadeBorderSize, c.red, c.green, c.blue); });
    case 2:
        return withColour(p.FishEyeColor, [&](Rgb c) { return pixTwix.fishEye(c.red, c.green, c.blue); });
    case 3: {
        const auto first = ColorToRGB(p.FrameSolidColor);
        if (!first)
            return first.error();
        const auto second = ColorToRGB(p.FrameSolidColor1);
        if (!second)
            return second.error();
        const Rgb a = first.value();
        const Rgb b = second.value();
        return pixTwix.frameSolid(p.FrameSolidSize, a.red, a.green, a.blue, b.red, b.green, b.blue);
    }
    case 4: {
        const auto loaded = loadSecondary(pixTwix, p.FrameEffectSliceFile);
        if (!loaded)
            return loaded.error();
        if (!loaded.value())
            return Common::success();
        return pixTwix.frameFromSlice(false);
    }
    case 5:
        return withColour(p.IrregularBorderColor,
            [&](Rgb c) { return pixTwix.irregularBorder(p.IrregularBorderSize, c.red, c.green, c.blue); });
    case 6: {
        const auto canvas = ColorToRGB(p.ShadowCanvasColor);
        if (!canvas)
            return canvas.error();
        const auto shadow = ColorToRGB(p.ShadowCanvasShadow);
        if (!shadow)
            return shadow.error();
        const qint64 size = p.ShadowCanvasSize;
        const qint64 width = qint64(p.ImageWidth) + 2 * size;
        const qint64 height = qint64(p.ImageHeight) + 2 * size;
        if (width > std::numeric_limits<qint32>::max() || height > std::numeric_limits<qint32>::max()
            || width < std::numeric_limits<qint32>::min() || height < std::numeric_limits<qint32>::min())
            return effectError(tr("The shadow canvas size overflows."));
        const Rgb c = canvas.value();
        const Rgb s = shadow.value();
        return pixTwix.shadowCanvas(int(width), int(height), int(size), int(size), c.red, c.green, c.blue, int(size),
            int(size), p.ShadowCanvasBlur, s.red, s.green, s.blue);
    }
    case 7:
        return withColour(p.PerspectiveHorizontalColor,
            [&](Rgb c) { return pixTwix.perspectiveHorizontal(p.PerspectiveHorizontalSize, c.red, c.green, c.blue); });
    case 8:
        return withColour(p.PerspectiveVerticalColor,
            [&](Rgb c) { return pixTwix.perspectiveVertical(p.PerspectiveVerticalSize, c.red, c.green, c.blue); });
    case 9:
        return withColour(p.RandomShearColor, [&](Rgb c) {
            if (auto ok = pixTwix.randomShearHorizontal(p.RandomShearSize, c.red, c.green, c.blue); !ok)
                return ok;
            return pixTwix.randomShearVertical(p.RandomShearSize, c.red, c.green, c.blue);
        });
    case 10:
        return withColour(p.RotateColor,
            [&](Rgb c) { return pixTwix.rotate(centreX, centreY, float(p.RotateAngle), c.red, c.green, c.blue); });
    case 11:
        return withColour(p.SkewHorizontallyColor,
            [&](Rgb c) { return pixTwix.skewHorizontally(float(p.SkewHorizontallyAngle), c.red, c.green, c.blue); });
    case 12:
        return withColour(p.SkewVerticallyColor,
            [&](Rgb c) { return pixTwix.skewVertically(float(p.SkewVerticallyAngle), c.red, c.green, c.blue); });
    case 13:
        return withColour(p.TintColor, [&](Rgb c) { return pixTwix.tint(c.red, c.green, c.blue, false); });
    case 14:
        return withColour(
            p.TwirlColor, [&](Rgb c) { return pixTwix.twirl(centreX, centreY, p.TwirlAngle, c.red, c.green, c.blue); });
    case 15:
        return withColour(
            p.TwistColor, [&](Rgb c) { return pixTwix.twist(centreX, centreY, p.TwistAngle, c.red, c.green, c.blue); });
    case 16: {
        const auto colour = ColorToRGB(p.VignetteColor);
        if (!colour)
            return colour.error();
        const auto loaded = loadSecondary(pixTwix, p.VignetteEffectFile);
        if (!loaded)
            return loaded.error();
        if (!loaded.value())
            return Common::success();
        const Rgb c = colour.value();
        return pixTwix.vignetteMask(c.red, c.green, c.blue);
    }
    default:
        return Common::success();
    }
}

void ProcessEffect(PixTwix& pixTwix, int index, const EffectParameters& parameters)
{
    // One failing effect must not stop the image: the caller goes on with the next one.
    (void)applyEffect(pixTwix, index, parameters);
}

void applyEffectsToImage(PixTwix& pixTwix, EffectsState& state, bool rotate, const EffectParameters& parameters)
{
    for (int index : effectsForImage(state, rotate))
        ProcessEffect(pixTwix, index, parameters);
}

} // namespace Imaging
