#include "RavoletApp/UI/ExternalLink.hpp"

namespace ravolet::ExternalLink {

const QUrl& support() {
    static const QUrl url(QStringLiteral("mailto:support@ravolet.app"));
    return url;
}

} // namespace ravolet::ExternalLink
