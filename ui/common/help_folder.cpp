#include "ui/common/help_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace tavrin::ui {

QString FindHelpFolder(const QString& programDir) {
    const QDir dir(programDir);
    for (const QString& rel : {QStringLiteral("help"), QStringLiteral("../share/tavrin-msg-to-pst/help")}) {
        const QString candidate = QDir::cleanPath(dir.absoluteFilePath(rel));
        if (QFileInfo::exists(candidate + QStringLiteral("/msg-to-pst/index.html"))) return candidate;
    }
    return {};
}

std::string HelpSiteFor(const QString& folder) {
    QString url = QUrl::fromLocalFile(QDir(folder).absolutePath()).toString();
    while (url.endsWith(QLatin1Char('/'))) url.chop(1);
    return url.toStdString();
}

}  // namespace tavrin::ui
