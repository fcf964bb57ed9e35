#pragma once

#include <QString>

#include "common/result.h"

namespace Common {

// The folder of the running executable, with one trailing "/".
QString AppPath();

// True when path, trimmed of blanks, is not empty and names an existing file (not a folder).
bool FileExists(const QString& path);

// Creates every missing level of a folder path, from the root down; existing levels are left alone.
Status MakePath(const QString& path);

// Makes sure the folder exists, creating it with MakePath when it does not.
Status EnsureFolder(const QString& path);

// A path text with a "[...]" part removed, trimmed, and ending in one "/".
QString AddSeparator(const QString& path);

// A folder text ending in "/", unchanged when it already does.
QString AddBackslash(const QString& path);

// True for the name of an intermediate file that earlier versions left beside the thumbnails when a
// run was cut short ("<ID>.<format>.part.jpg"): it is never a thumbnail, nor uploaded.
bool isLeftoverIntermediate(const QString& fileName);

} // namespace Common
