#include "app/desktop/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

namespace lumvane {

namespace {

// Runs `fn` on the GUI thread and waits for it.
template <class Fn>
void onGuiThread(QObject* context, Fn&& fn) {
    if (QThread::currentThread() == context->thread()) {
        fn();
    } else {
        QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    }
}

}  // namespace

QtPasteboard::QtPasteboard() : context_(new QObject()) {
    if (auto* app = QCoreApplication::instance()) context_->moveToThread(app->thread());
}

QtPasteboard::~QtPasteboard() {
    context_->deleteLater();
}

bool QtPasteboard::setString(const std::string& text) {
    bool written = false;
    onGuiThread(context_, [&] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard) return;
        auto* data = new QMimeData();
        data->setText(QString::fromStdString(text));
        data->setData(kPasswordHintType, QByteArray(kPasswordHintValue));
        clipboard->setMimeData(data, QClipboard::Clipboard);
        written = true;
    });
    return written;
}

std::optional<std::string> QtPasteboard::string() const {
    std::optional<std::string> text;
    onGuiThread(context_, [&] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard) return;
        const QMimeData* data = clipboard->mimeData(QClipboard::Clipboard);
        if (data && data->hasText()) text = data->text().toStdString();
    });
    return text;
}

}  // namespace lumvane
