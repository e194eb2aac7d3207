#include "ui/dialogs/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "engine/wizard/save_location.h"
#include "ui/form/form.h"
#include "ui/registry/registry.h"

namespace tavrin::ui {

using wizard::MsgButtons;
using wizard::MsgIcon;
using wizard::MsgResult;

QString QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList names;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
    if (names.isEmpty() && !parts.isEmpty()) names << parts.first();
    return names.join(QStringLiteral(";;"));
}

namespace {

class QtDialogs : public wizard::Dialogs {
public:
    MsgResult messageBox(wizard::Form* owner, const std::string& text, const std::string& title, MsgButtons buttons,
                         MsgIcon icon) override {
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
                        buttons == MsgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                        : buttons == MsgButtons::Ok  ? QMessageBox::Ok
                                                     : QMessageBox::NoButton,
                        WidgetOf(owner));
        box.setTextFormat(Qt::PlainText);
        if (buttons == MsgButtons::AddReplaceCancel) {
            QPushButton* add = box.addButton(QObject::tr("&Add to it"), QMessageBox::AcceptRole);
            QPushButton* replace = box.addButton(QObject::tr("&Replace it"), QMessageBox::DestructiveRole);
            QPushButton* cancel = box.addButton(QMessageBox::Cancel);
            box.setDefaultButton(add);
            box.setEscapeButton(cancel);
            box.exec();
            if (box.clickedButton() == add) return MsgResult::Add;
            if (box.clickedButton() == replace) return MsgResult::Replace;
            return MsgResult::Cancel;
        }
        const int r = box.exec();
        if (buttons == MsgButtons::YesNo) return r == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
        return MsgResult::Ok;
    }

    std::string browseForFolder(wizard::Form* owner, const std::string& prompt,
                                const std::string& startFolder) override {
        return BrowseForFolder(WidgetOf(owner), prompt, startFolder);
    }

    std::optional<std::string> saveFile(wizard::Form* owner, const std::string& filter,
                                        const std::string& proposedName) override {
        QFileDialog dialog(WidgetOf(owner));
        // An existing file is asked about by the engine (add to it or replace it).
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
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
        return QDir::toNativeSeparators(chosen).toStdString();
    }

    void openUrl(const std::string& address) override { OpenUrl(address); }
};

}  // namespace

std::unique_ptr<wizard::Dialogs> MakeDialogs() { return std::make_unique<QtDialogs>(); }

}  // namespace tavrin::ui
