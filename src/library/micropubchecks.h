#pragma once
// The Micropub client's URL and media-type checks. Both are pure and live with
// the library because they are used outside publishing too: the library scan keeps only a trustworthy
// micropub_url, and the image ingest accepts only files with a known type.

#include <QString>
#include <optional>

namespace library::Micropub {

// True when text is not empty, holds no line end or control/format
// character, parses strictly as a URL whose scheme (lower-cased) is "https",
// and has a host. Never fails.
bool isTrustworthy(const QString &text);

// The image media type of a file name or path, by its lower-cased extension:
// png, jpg/jpeg, gif, webp, svg. Nothing for any other extension. The file is
// never opened.
std::optional<QString> mimeType(const QString &fileName);

} // namespace library::Micropub
