#pragma once

#include <array>
#include <functional>
#include <initializer_list>

#include <QImage>
#include <QString>

#include "common/result.h"

namespace Imaging {

// The imaging component: one working image, changed in place by effect and filter operations, loaded
// from and saved to the program's own files through FreeImage.
//
// Colours are three whole numbers red, green, blue in 0..255; a value outside that range, a missing
// working image or an argument that would make an unusable image fails the operation with an error
// and leaves the working image as it was. Only shadowCanvas changes the image size (and resize, of
// course); borders, frames and perspective draw inside the image, so a thumbnail keeps its size.
// Areas an operation uncovers take the colour given to it.
//
// Many operations end with a flag the program always passes as false; its meaning is stated per
// operation. Not thread-safe; one instance per thread. Pixel operations are deterministic: the
// "random" ones draw from a generator seeded with the image size.
class PixTwix final {
public:
    // Test seam: called once per operation with its name and arguments, e.g. "rotate(60,45,20,255,255,255)".
    using OperationObserver = std::function<void(const QString&)>;

    PixTwix() = default;

    const QImage& picture() const;
    void setPicture(const QImage& picture);
    const QImage& secondaryPicture() const;
    void setSecondaryPicture(const QImage& picture);

    // libraryPath names where the caller expects the FreeImage library; the library is linked into the
    // program, so the argument is accepted for the caller's sake and not used.
    Common::Status load(const QString& libraryPath, const QString& path);
    // Format code 12 writes a JPEG at the highest quality (the program's files end in .jpg); other codes
    // are refused. The target name only ever holds a complete file; the save does not wait for the disk
    // (Durability::Flushed), as the file is an intermediate one the caller reads back and replaces.
    Common::Status save(const QString& libraryPath, const QString& path, int formatCode);
    // Mode 4 resamples smoothly (area averaging when shrinking); modes 0..3 pick the nearest pixel.
    Common::Status resize(int width, int height, int mode);

    // Effects. size is in pixels, angles in degrees (positive turns counter-clockwise as seen).
    Common::Status erodeBorder(int size, int red, int green, int blue);
    Common::Status fadeBorder(int size, int red, int green, int blue);
    Common::Status fishEye(int red, int green, int blue);
    // Top and left sides in the first colour, bottom and right in the second, mitred at the corners.
    Common::Status frameSolid(int size, int red, int green, int blue, int red1, int green1, int blue1);
    // Draws the secondary picture (a strip whose first row is the outer edge) around the image: tiled
    // along each side, or stretched to the side's length when stretch is true.
    Common::Status frameFromSlice(bool stretch);
    Common::Status irregularBorder(int size, int red, int green, int blue);
    // Makes a canvas of canvasWidth x canvasHeight in the canvas colour, puts the image at (imageLeft,
    // imageTop) and, behind it, its shadow offset by (shadowX, shadowY) and blurred by blur pixels.
    Common::Status shadowCanvas(int canvasWidth, int canvasHeight, int imageLeft, int imageTop, int red, int green,
        int blue, int shadowX, int shadowY, int blur, int shadowRed, int shadowGreen, int shadowBlue);
    // The right side (horizontal) or the bottom side (vertical) shrinks by size pixels.
    Common::Status perspectiveHorizontal(int size, int red, int green, int blue);
    Common::Status perspectiveVertical(int size, int red, int green, int blue);
    // Rows (horizontal) or columns (vertical) shifted by random amounts spanning at most size pixels.
    Common::Status randomShearHorizontal(int size, int red, int green, int blue);
    Common::Status randomShearVertical(int size, int red, int green, int blue);
    Common::Status rotate(int centreX, int centreY, float angle, int red, int green, int blue);
    Common::Status skewHorizontally(float angle, int red, int green, int blue);
    Common::Status skewVertically(float angle, int red, int green, int blue);
    // Keeps each pixel's lightness and gives it the hue and saturation of the colour; blend mixes the
    // result half and half with the original.
    Common::Status tint(int red, int green, int blue, bool blend);
    // A swirl about the centre; angle counts tens of degrees of turn at the centre, fading to none at
    // the radius of the smaller image half.
    Common::Status twirl(int centreX, int centreY, int angle, int red, int green, int blue);
    // Rings about the centre turned back and forth, up to angle degrees, out to the image corners.
    Common::Status twist(int centreX, int centreY, int angle, int red, int green, int blue);
    // The secondary picture, stretched over the image, is a mask: white keeps the image, black gives
    // the colour, grey mixes them.
    Common::Status vignetteMask(int red, int green, int blue);

    // Filters. alphaToo: the filter also acts on the alpha channel (false keeps it).
    Common::Status antialias(bool alphaToo);
    // Stretches each channel's range low..high to 0..255.
    Common::Status colorCorrect(
        int redLow, int greenLow, int blueLow, int redHigh, int greenHigh, int blueHigh, bool alphaToo);
    Common::Status colorEmboss(int depth, bool alphaToo);
    Common::Status enhanceEdges(bool alphaToo);
    // level 0 is the finest detail; higher levels widen the blur that is subtracted or kept.
    Common::Status highPass(int level, bool alphaToo);
    Common::Status lowPass(int level, bool alphaToo);
    Common::Status melt(bool alphaToo);
    Common::Status negative(bool red, bool green, bool blue, bool alpha);
    Common::Status sharpen(bool alphaToo);
    Common::Status soften(bool alphaToo);
    Common::Status softenMore(bool alphaToo);
    // Reduces each channel to 2^(3 + level) levels (level 0..5).
    Common::Status compress(int level, bool alphaToo);
    // A 3 x 3 kernel in row order; each result is sum / divisor + bias (a divisor of 0 counts as 1).
    Common::Status convolution(const std::array<float, 9>& weights, float divisor, int bias, bool alphaToo);

    void setOperationObserver(OperationObserver observer);

private:
    void trace(const char* name, std::initializer_list<double> arguments) const;
    Common::Status checkPicture() const;
    Common::Status applyKernel(const float* weights, int side, float divisor, float bias, bool alphaToo);
    // The kernel across[i] * down[j] in two passes. Only for whole-number weights: their sums are exact
    // in any order, so the result is the full kernel's to the bit.
    Common::Status applySeparableKernel(
        const float* across, const float* down, int side, float divisor, float bias, bool alphaToo);
    Common::Status filterRows(
        const float* weights, const float* across, int side, float divisor, float bias, bool alphaToo);
    Common::Status blurGaussian(int rounds, bool alphaToo);
    // A filter writes every pixel of a new picture; the picture it replaced is kept to be written next
    // time instead of allocating (and clearing) one per filter.
    QImage spareLike(const QImage& picture);
    void keepAsSpare(const QImage& picture);

    QImage m_picture;
    QImage m_spare;
    QImage m_secondary;
    OperationObserver m_observer;
};

} // namespace Imaging
