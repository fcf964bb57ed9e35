#pragma once

#include <QtGlobal>

#include "common/result.h"

namespace Imaging {

class PixTwix;

// The thirteen filter flags (1 = on), named as the live settings; read afresh for every image.
struct FilterFlags final {
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
};

// Applies every enabled filter once, in the fixed order antialias ... convolution. The first filter
// that fails stops the rest and its error is returned; the image keeps the filters applied before it.
Common::Status ProcessFilters(PixTwix& pixTwix, const FilterFlags& flags);

template <typename Settings> FilterFlags filterFlagsFrom(const Settings& s)
{
    return { s.FilterAntialias, s.FilterColorCorrect, s.FilterColorEmboss, s.FilterEnhanceEdge, s.FilterHighPass,
        s.FilterLowPass, s.FilterMelt, s.FilterNegative, s.FilterSharpen, s.FilterSoften, s.FilterSoftenMore,
        s.FilterCompress, s.FilterConvolution };
}

} // namespace Imaging
