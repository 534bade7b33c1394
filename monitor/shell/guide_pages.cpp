#include "guide_pages.h"

#include "platform/install_layout.h"

#include <QFileInfo>

namespace zentrova::shell {

QUrl PromoAddress(const QString& text, const QString& programPath) {
    QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        return {};
    if (url.isRelative()) {
        const std::string folder =
            platform::FindGuidePagesFor(QFile::encodeName(programPath).toStdString(),
                                        {ZENTROVA_BUILD_FOLDER, ZENTROVA_BUILD_TREE_GUIDE});
        url =
            QUrl::fromLocalFile(QFile::decodeName(folder.c_str()) + QLatin1Char('/')).resolved(url);
    }
    if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isFile())
        return {};
    return url;
}

} // namespace zentrova::shell
