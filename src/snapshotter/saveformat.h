#pragma once

#include <QString>

#include "imaging/pictureviewerpro.h"

namespace Snapshotter {

// The save chooser's filter in the chooser's "Description|patterns|..." form: all picture types first,
// then each family, then all files.
QString saveFilter();

// The format a chosen file name is saved in. The last three letters of the name pick it, in any case:
// BMP, EMF, GIF, PDF, PNG and WMF their own format, anything else JPEG; names ending in .tif or .tiff
// are TIFF and .dib a bitmap. A name with no dot in it is JPEG, whatever its last letters spell.
Imaging::ViewerFormat saveFormatFor(const QString& fileName);

} // namespace Snapshotter
