#pragma once

#include <QString>

namespace Capture {

// A script expression that tells, cheaply, whether a document shows anything the consent rules
// library (ConsentWalls) could answer: true when an element matches one that any of the library's
// platforms needs before it counts as found, or the page carries one of the script globals its
// code-based platforms look for. Built from the rules inside the library's own source, so an update
// of the library brings its new platforms. A false "true" costs a page the full library; a false
// "false" leaves a wall in the picture, so every doubt answers true. Empty when the rules cannot be
// read from the source (then every document must get the library).
//
// Most of the library's rules are for some sites only: general asks about the other rules, and
// answers "sites" instead when the document's address is one such site's; complete then asks about
// them all.
struct ConsentProbe {
    QString general;
    QString complete;
};
ConsentProbe consentProbe(const QString& librarySource);

} // namespace Capture
