#include "ui/dialogs/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include "engine/wizard/save_location.h"
#include "ui/registry/registry.h"

namespace tavrin::ui {

using engine::MsgButtons;
using engine::MsgIcon;
using engine::MsgResult;

engine::MsgResult QtDialogs::messageBox(QWidget* owner, const std::string& text, const std::string& title,
                                        MsgButtons buttons, MsgIcon icon) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
    case MsgIcon::Information: qicon = QMessageBox::Information; break;
    case MsgIcon::Question: qicon = QMessageBox::Question; break;
    case MsgIcon::Warning: qicon = QMessageBox::Warning; break;
    case MsgIcon::None: break;
    }
    QString body = QString::fromStdString(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(qicon, QString::fromStdString(title), body,
                    buttons == MsgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    const int r = box.exec();
    if (buttons == MsgButtons::YesNo) return r == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
    return MsgResult::Ok;
}

std::string QtDialogs::browseForFolder(QWidget* owner, const std::string& prompt) {
    return BrowseForFolder(owner, prompt);
}

QString QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList names;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
    if (names.isEmpty() && !parts.isEmpty()) names << parts.first();
    return names.join(QStringLiteral(";;"));
}

std::optional<std::string> QtDialogs::saveFile(QWidget* owner, const std::string& filter,
                                               const std::string& proposedName, bool& replaceConfirmed) {
    replaceConfirmed = false;
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QtNameFilters(filter));
    dialog.setDefaultSuffix(QStringLiteral("pst"));
    // The documents folder (else home), never the file-system root.
    if (const std::string folder = wizard::SaveDialogFolder(); !folder.empty())
        dialog.setDirectory(QString::fromStdString(folder));
    dialog.selectFile(QString::fromStdString(proposedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString chosen = dialog.selectedFiles().first();
    // The dialog asked before accepting an existing name.
    replaceConfirmed = QFileInfo::exists(chosen);
    return QDir::toNativeSeparators(chosen).toStdString();
}

void QtDialogs::openUrl(const std::string& address) { OpenUrl(address); }

}  // namespace tavrin::ui
