#include "imaging/filters.h"

#include <functional>
#include <utility>

#include "imaging/pixtwix.h"

namespace Imaging {

Common::Status ProcessFilters(PixTwix& pixTwix, const FilterFlags& flags)
{
    // Each step runs only when its flag is exactly 1; the constant arguments are part of the look the
    // user chose in the settings preview.
    const auto step = [](qint32 flag, auto operation) -> Common::Status {
        if (flag != 1)
            return Common::success();
        return operation();
    };
    using Step = std::function<Common::Status()>;
    const std::pair<qint32, Step> steps[] = {
        { flags.FilterAntialias, [&] { return pixTwix.antialias(false); } },
        { flags.FilterColorCorrect, [&] { return pixTwix.colorCorrect(47, 47, 47, 255, 255, 243, false); } },
        { flags.FilterColorEmboss, [&] { return pixTwix.colorEmboss(1, false); } },
        { flags.FilterEnhanceEdge, [&] { return pixTwix.enhanceEdges(false); } },
        { flags.FilterHighPass, [&] { return pixTwix.highPass(0, false); } },
        { flags.FilterLowPass, [&] { return pixTwix.lowPass(0, false); } },
        { flags.FilterMelt, [&] { return pixTwix.melt(false); } },
        { flags.FilterNegative, [&] { return pixTwix.negative(true, true, true, false); } },
        { flags.FilterSharpen, [&] { return pixTwix.sharpen(false); } },
        { flags.FilterSoften, [&] { return pixTwix.soften(false); } },
        { flags.FilterSoftenMore, [&] { return pixTwix.softenMore(false); } },
        { flags.FilterCompress, [&] { return pixTwix.compress(0, false); } },
        { flags.FilterConvolution,
            [&] {
                return pixTwix.convolution({ 1, 1, 1, 1, -7, 1, 1, 1, 1 }, 1.0f, 0, false);
            } },
    };
    for (const auto& [flag, operation] : steps) {
        if (auto ok = step(flag, operation); !ok)
            return ok;
    }
    return Common::success();
}

} // namespace Imaging
