#pragma once

#include <array>
#include <optional>

#include <QtGlobal>

class QImage;

namespace Imaging {

// A perceptual hash of how a page looks, 512 bits: its fine structure (edges, lines of text, the words'
// gaps) cell by cell, so pages built from one template with a few other words are a few bits apart while
// two pages of text with other words differ wherever there is text. See lookHash for how it is made.
struct LookHash final {
    static constexpr int Bits = 512;
    std::array<quint64, Bits / 64> words {};

    // The number of bits that differ.
    int distance(const LookHash& other) const;
    int structure() const { return LookHash().distance(*this); }
    bool operator==(const LookHash& other) const = default;
};

// The hash of a picture of a page (a thumbnail of any size and format). The picture is reduced to a grey
// 128 x 128 and cut into 16 x 16 cells; each cell gives two bits, set when its left and right halves, or its top
// and bottom halves, differ by more than JPEG noise. A plain area sets no bit, so a
// change in one place (a domain name in a heading, a price) changes the bits of that place alone, and
// scaling or re-encoding the picture moves a few bits at edges. The bits are stored in a fixed scattered
// order, so each run of 16 stored bits samples the whole page (ParkedLooks indexes such runs).
// Nothing for a picture with no look to share: empty, nearly one colour (under 1% of the reduction departs
// from its median grey), or with too little structure (under MinStructure bits set) to be told apart from
// other sparse pages. Pure, safe from any thread.
std::optional<LookHash> lookHash(const QImage& image);

// The fewest bits a look has. Two looks with no structure in common are at least twice this far apart,
// beyond the distance at which Batch::ParkedLooks takes pages for alike.
constexpr int MinStructure = 21;

} // namespace Imaging
