#pragma once
// The Micropub client. Its URL and media-type checks live with the library,
// which uses them too; they are reachable here under the client's name.

#include "library/micropubchecks.h"

namespace publish::Micropub {

using library::Micropub::isTrustworthy;
using library::Micropub::mimeType;

} // namespace publish::Micropub
