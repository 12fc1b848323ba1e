#pragma once

#include <QUrl>

namespace ravolet::ExternalLink {

// A "mailto:" link to Ravolet's support mailbox, built once on first use.
const QUrl& support();

} // namespace ravolet::ExternalLink
