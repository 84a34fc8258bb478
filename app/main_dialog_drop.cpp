// Drag and drop from a file manager onto the input list and the output field.
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

#include "app/dialog_builder.h"
#include "app/main_dialog.h"

namespace tessary {
namespace {

QList<QUrl> DraggedUrls(QEvent* event) {
    const QMimeData* data = static_cast<QDropEvent*>(event)->mimeData();
    return data && data->hasUrls() ? data->urls() : QList<QUrl>();
}

bool HasLocalUrl(const QList<QUrl>& urls) {
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

bool IsDragEvent(QEvent* event) {
    return event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
           event->type() == QEvent::Drop;
}

}  // namespace

QStringList ExpandedInputPaths(const QStringList& paths) {
    std::vector<PlanInput> files;
    std::vector<InputProblem> problems;  // an unreadable folder simply adds nothing
    for (const QString& path : paths) {
        ExpandInput(QFile::encodeName(path).toStdString(), true, files, problems);
    }
    QStringList expanded;
    for (const PlanInput& file : files) {
        expanded << QFile::decodeName(QByteArray::fromStdString(file.path));
    }
    return expanded;
}

QStringList InputPathsFromUrls(const QList<QUrl>& urls) {
    QStringList paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            // A plain path: "file:///a%20b.jpg" becomes "/a b.jpg".
            paths << QDir::cleanPath(url.toLocalFile());
        }
    }
    return ExpandedInputPaths(paths);
}

void CMainDialog::AddPaths(const QStringList& paths) {
    QStringList absolute;
    for (const QString& path : paths) {
        absolute << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    }
    AppendInputs(ExpandedInputPaths(absolute));
}

QString FolderFromUrls(const QList<QUrl>& urls) {
    if (urls.isEmpty() || !urls.front().isLocalFile()) {
        return {};
    }
    const QString path = QDir::cleanPath(urls.front().toLocalFile());
    return QFileInfo(path).isDir() ? path : QString();
}

void CMainDialog::AcceptDropsOnListAndOutput() {
    auto* list = FindControlAs<QListWidget>(this, kListId);
    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->viewport()->installEventFilter(this);
    FindControl(this, kOutputId)->installEventFilter(this);
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (IsDragEvent(event)) {
        if (watched == FindControlAs<QListWidget>(this, kListId)->viewport()) {
            return HandleListDrag(event);
        }
        if (watched == FindControl(this, kOutputId)) {
            return HandleOutputDrag(event);
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool CMainDialog::HandleListDrag(QEvent* event) {
    auto* drop = static_cast<QDropEvent*>(event);
    const QList<QUrl> urls = DraggedUrls(event);
    // Folders are looked into only on the drop, not on every move of the pointer.
    if (!HasLocalUrl(urls)) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        // As Add: the fields are read first, so typed values are kept.
        UpdateData(true);
        AppendInputs(InputPathsFromUrls(urls));
    }
    return true;
}

bool CMainDialog::HandleOutputDrag(QEvent* event) {
    auto* drop = static_cast<QDropEvent*>(event);
    const QList<QUrl> urls = DraggedUrls(event);
    if (urls.isEmpty()) {
        return false;  // plain text: the field's own handling
    }
    // Only a folder is taken; a dropped file would otherwise arrive as a URL text.
    const QString folder = FolderFromUrls(urls);
    if (folder.isEmpty()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        UpdateData(true);
        SetOutputLocation(folder);
    }
    return true;
}

}  // namespace tessary
