// The proxy program's file version, kept in the image itself so that the
// library's installer can compare an image with the installed one without
// running either.

#include "platform/ImageVersion.h"

#ifndef OVRA_PROXY_VERSION_MAJOR
#error "the build gives the proxy's version"
#endif

namespace {
[[gnu::used, gnu::section(".note.ovra.version"), gnu::aligned(4)]]
const ovra::ImageVersionNote kVersionNote = {
    5, 16, ovra::kImageVersionNoteType, {'O', 'V', 'R', 'A', 0, 0, 0, 0},
    {OVRA_PROXY_VERSION_MAJOR, OVRA_PROXY_VERSION_MINOR, OVRA_PROXY_VERSION_BUILD,
     OVRA_PROXY_VERSION_REVISION},
    {'K', 'v', 's', 'U', 'p', 'x', 0, 0}};
}  // namespace
