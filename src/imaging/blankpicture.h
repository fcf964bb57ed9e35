#pragma once

#include <QImage>

namespace Imaging {

// Whether a captured page shows anything: a page that draws itself with scripts comes out as an empty
// box when they are off, and one still loading as one colour.
//
// The rule: a picture is blank when at least 99.8 % of its pixels lie within 16 levels (of 255, on
// each of red, green and blue) of its commonest colour, measured on the picture reduced smoothly to
// fit 128 x 128: it asks what a thumbnail would show, whatever size the page was captured at.
// Measured on real captures of 1024 x 768 reduced to 120 x 90 (10,800 pixels): a page holding nothing
// but the heading "It works!" leaves 0.32 % of them (35 pixels) away from its background, a heading
// and a line of text 0.44 %, while a lone 32-pixel loading spinner leaves 0.11 % and an empty page or
// one whose content has not arrived 0 %. The bound, 0.2 %, sits between the smallest page that shows
// something and the spinner. The 16 levels take up JPEG's noise around flat colours and the faint
// gradients some pages paint behind nothing. A null picture is blank. Any thread.
bool isBlankPicture(const QImage& picture);

// The rule judges pictures reduced to fit this many pixels wide and high; one already that small is
// judged as it is. That is the size of a thumbnail, whatever size they were captured at, so that a
// page is blank or not alike at every size: reduced smoothly, a line of text covers about as many
// pixels here as in a thumbnail of 120 x 90.
inline constexpr int BlankJudgedExtent = 128;

// The share (0 to 1) of the pixels within the tolerance of the commonest colour, as the rule measures it.
double commonestColourShare(const QImage& picture);

} // namespace Imaging
