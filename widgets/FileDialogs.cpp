// SPDX-License-Identifier: MIT
#include "FileDialogs.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTreeView>

namespace {

enum Column { Name, Size, Kind, Modified };

// Qt's own short form for Taiwan has a day period it cannot write yet ("B"); 24 hours and
// numbers read the same in any language.
const QString DateForm = QStringLiteral("yyyy/MM/dd HH:mm");

class ChineseColumns : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole && index.column() != Name)
            if (auto *files = qobject_cast<QFileSystemModel *>(sourceModel())) {
                const QFileInfo info = files->fileInfo(mapToSource(index));
                switch (index.column()) {
                case Size:
                    return info.isDir() ? QString() : sizeText(info.size());
                case Kind:
                    return kindOf(info);
                case Modified:
                    return info.lastModified().toString(DateForm);
                }
            }
        return QIdentityProxyModel::data(index, role);
    }

    // Qt writes a size under 1 KiB with an English word whatever the language.
    static QString sizeText(qint64 bytes)
    {
        return bytes < 1024 ? QStringLiteral("%1 位元組").arg(bytes)
                            : QLocale().formattedDataSize(bytes);
    }

    static QString kindOf(const QFileInfo &info)
    {
        if (info.isDir())
            return info.isRoot() ? QStringLiteral("磁碟") : QStringLiteral("資料夾");
        if (info.isSymLink() && !info.exists())
            return QStringLiteral("捷徑");
        const QString suffix = info.suffix();
        return suffix.isEmpty() ? QStringLiteral("檔案") : QStringLiteral("%1 檔案").arg(suffix);
    }
};

} // namespace

namespace FileDialogs {

void localise(QFileDialog *dialog)
{
    dialog->setProxyModel(new ChineseColumns(dialog));
    auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
    if (!view)
        return;
    // Wide enough for what the columns hold in this locale; still the user's to resize.
    const QFontMetrics fm = view->fontMetrics();
    const int pad = fm.averageCharWidth() * 3;
    const QDateTime longest(QDate(2026, 12, 28), QTime(23, 58));
    QHeaderView *header = view->header();
    header->resizeSection(Modified,
                          fm.horizontalAdvance(longest.toString(DateForm))
                                  + pad);
    header->resizeSection(Kind, fm.horizontalAdvance(QStringLiteral("資料夾 檔案")) + pad);
    header->resizeSection(Size, fm.horizontalAdvance(QLocale().formattedDataSize(1023 * 1024))
                                        + pad);
    // The name takes what is left, so that the date is never pushed out of sight.
    header->setSectionResizeMode(Name, QHeaderView::Stretch);
    const int wanted = fm.averageCharWidth() * 100;
    if (dialog->width() < wanted)
        dialog->resize(wanted, dialog->height());
}

} // namespace FileDialogs

QString FileDialogs::ask(QWidget *parent, const Question &question, QString &folder)
{
    QFileDialog dialog(parent, question.title, folder);
    dialog.setObjectName(question.objectName);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    localise(&dialog);
    if (question.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(question.filter);
        dialog.setDefaultSuffix(question.suffix);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters({question.filter, QStringLiteral("所有檔案 (*)")});
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    folder = dialog.directory().absolutePath();
    return dialog.selectedFiles().constFirst();
}
