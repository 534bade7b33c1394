// The pages the welcome window's buttons open: our own, shipped with the
// program (share/guide), so that they are there without a network.
#pragma once

#include <QString>
#include <QUrl>

namespace zentrova::shell {

// The address that the text of a "Messages" entry stands for: a page named
// relative to the guide folder that goes with the program at `programPath`
// (platform::FindGuidePagesFor), as a file:// URL, or an absolute address as
// it is. An empty URL when the text is no usable address or names a local
// file that is missing: a broken install opens nothing, as any failed open.
QUrl PromoAddress(const QString& text, const QString& programPath);

} // namespace zentrova::shell
