#include "ui/registry/registry.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace tavrin::ui {

void OpenUrl(const std::string& address) {
    if (address.empty()) return;
    const QString text = QString::fromStdString(address);
    QUrl url(text, QUrl::TolerantMode);
    if (url.scheme().isEmpty()) url = QUrl::fromLocalFile(text);
    // The result is ignored: nothing is reported when no browser opens it.
    (void)QDesktopServices::openUrl(url);
}

std::string FolderResult(const QString& chosen) {
    if (chosen.isEmpty()) return {};
    const QFileInfo info(chosen);
    if (!info.isDir()) return {};
    // cleanPath drops a trailing separator but keeps the one of "D:/" and "/".
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    return QDir::toNativeSeparators(clean).toStdString();
}

std::string BrowseForFolder(QWidget* ownerWindow, const std::string& prompt, const std::string& startFolder) {
    QFileDialog dialog(ownerWindow, QString::fromStdString(prompt));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString start = QString::fromStdString(startFolder);
    if (!start.isEmpty() && QFileInfo(start).isDir()) {
        dialog.setDirectory(start);
    } else {
#ifdef _WIN32
        // "This PC", the top of the folder tree that holds the drives.
        dialog.setDirectoryUrl(QUrl(QStringLiteral("clsid:0AC0837C-BBF8-452A-850D-79D08E667CA7")));
#else
        dialog.setDirectory(QDir::rootPath());
#endif
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return {};
    return FolderResult(files.first());
}

}  // namespace tavrin::ui
