#include "ui/wizard/WizardWindow.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "lumvane/Version.h"
#include "settings/TBNSettings.h"
#include "ui/wizard/WizardText.h"

namespace lumvane {

namespace {

const char* kWindowStyle = R"(
#wizardWindow {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #145c69, stop:1 #0d3f48);
}
#wizardWindow QLabel { color: white; }
#wizardTitle { font-size: 20px; font-weight: bold; }
#wizardVersion { color: rgba(255,255,255,160); }
#pageTitle { font-size: 17px; font-weight: bold; }
#wizardWindow QPushButton {
  color: white; background: rgba(255,255,255,28); border: 1px solid rgba(255,255,255,120);
  border-radius: 5px; padding: 6px 18px; min-width: 84px;
}
#wizardWindow QPushButton:hover { background: rgba(255,255,255,48); }
#wizardWindow QPushButton:disabled {
  color: rgba(255,255,255,90); border-color: rgba(255,255,255,50); background: transparent;
}
#wizardWindow QPushButton#nextButton {
  background: #0ac77d; color: white; font-weight: bold; border: 1px solid #0ac77d;
}
#wizardWindow QPushButton#nextButton:disabled {
  background: transparent; color: rgba(255,255,255,110); border: 1px solid rgba(255,255,255,60);
  font-weight: normal;
}
#wizardWindow QListWidget { background: transparent; border: none; outline: none; }
#wizardWindow QListWidget::item {
  background: rgba(255,255,255,38); color: white; margin: 2px 0px; border-radius: 4px;
  padding-left: 12px;
}
#wizardWindow QListWidget::item:selected { background: white; color: #145c69; }
#wizardWindow QLineEdit, #wizardWindow QTextBrowser {
  background: rgba(255,255,255,30); color: white; border: 1px solid rgba(255,255,255,80);
  border-radius: 4px; padding: 4px;
}
#wizardWindow QProgressBar {
  background: rgba(255,255,255,30); border: none; border-radius: 3px; max-height: 6px;
}
#wizardWindow QProgressBar::chunk { background: white; border-radius: 3px; }
)";

// Alerts and file panels are children of the window (window-modal) but keep the
// system's light look: without this they would take the window's white text and
// see-through buttons on their light background, and be unreadable.
const char* kDialogStyle = R"(
QLabel { color: palette(window-text); }
QPushButton {
  color: palette(button-text); background: palette(button); border: 1px solid palette(mid);
  border-radius: 4px; padding: 5px 16px; min-width: 72px; font-weight: normal;
}
QPushButton:default { border: 1px solid palette(highlight); }
QPushButton:hover { background: palette(light); }
QPushButton:disabled { color: palette(mid); }
QListWidget, QListView, QTreeView { background: palette(base); color: palette(text); }
QListWidget::item, QListView::item { background: transparent; color: palette(text); }
QListWidget::item:selected, QListView::item:selected {
  background: palette(highlight); color: palette(highlighted-text);
}
QLineEdit {
  background: palette(base); color: palette(text); border: 1px solid palette(mid);
  border-radius: 3px; padding: 2px;
}
)";

QString versionLine(const std::shared_ptr<TBNSettings>& settings) {
    std::string version;
    if (auto text = settings ? settings->appVersion() : std::nullopt; text && !text->empty()) {
        version = *text;
    } else {
        version = kAppVersion;
    }
    return wizardText("TEXTFIELD_VERSION").replace("%@", QString::fromStdString(version));
}

}  // namespace

WizardWindow::WizardWindow(std::shared_ptr<WizardFlow> flow, QWidget* parent)
    : QWidget(parent), flow_(std::move(flow)) {
    setObjectName("wizardWindow");
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(kWindowStyle);
    setWindowTitle(QString::fromUtf8(kAppName));
    setFixedSize(kWidth, kHeight);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(28, 20, 28, 20);
    root->setSpacing(14);

    auto* header = new QHBoxLayout();
    auto* title = new QLabel(QString::fromUtf8(kAppName), this);
    title->setObjectName("wizardTitle");
    auto* version = new QLabel(versionLine(flow_->context()->services.settings), this);
    version->setObjectName("versionTextField");
    version->setProperty("class", "version");
    version->setStyleSheet("color: rgba(255,255,255,160);");
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(version, 0, Qt::AlignBottom);
    root->addLayout(header);

    auto* content = new QWidget(this);
    content->setObjectName("contentBoxView");
    contentLayout_ = new QVBoxLayout(content);
    contentLayout_->setContentsMargins(0, 0, 0, 0);
    root->addWidget(content, 1);

    auto* footer = new QHBoxLayout();
    const char* names[] = {"cancelButton", "backButton", "nextButton"};
    for (int i = 0; i < 3; ++i) {
        buttons_[i] = new QPushButton(this);
        buttons_[i]->setObjectName(names[i]);
        buttons_[i]->setAutoDefault(false);
        buttons_[i]->hide();
    }
    footer->addWidget(buttons_[0]);
    footer->addStretch(1);
    footer->addWidget(buttons_[1]);
    footer->addWidget(buttons_[2]);
    root->addLayout(footer);

    std::weak_ptr<WizardFlow> weak = flow_;
    QObject::connect(buttons_[0], &QPushButton::clicked, this, [weak] {
        if (auto f = weak.lock()) f->cancel(WizardButton::Cancel);
    });
    QObject::connect(buttons_[1], &QPushButton::clicked, this, [weak] {
        if (auto f = weak.lock()) f->back(WizardButton::Back);
    });
    QObject::connect(buttons_[2], &QPushButton::clicked, this, [weak] {
        if (auto f = weak.lock()) f->next(WizardButton::Next);
    });
    flow_->setView(this);
}

WizardWindow::~WizardWindow() {
    flow_->setView(nullptr);
    if (auto page = flow_->currentPage()) page->setChangedHandler({});
    // A window destroyed without a close (the application quitting) still ends its work.
    flow_->context()->windowClosed();
}

QPushButton* WizardWindow::button(WizardButton button) const {
    return buttons_[static_cast<int>(button)];
}

void WizardWindow::start() {
    show();
    raise();
    activateWindow();
    flow_->start();
}

void WizardWindow::wizardFlowButtonsChanged() {
    for (int i = 0; i < 3; ++i) {
        const auto& state = flow_->button(static_cast<WizardButton>(i));
        buttons_[i]->setText(wizardText(state.title));
        buttons_[i]->setVisible(state.visible);
        buttons_[i]->setEnabled(state.enabled);
    }
    buttons_[2]->setDefault(buttons_[2]->isVisible() && buttons_[2]->isEnabled());
}

void WizardWindow::wizardFlowShowPage(const std::shared_ptr<WizardPage>& page) {
    WizardPageWidget* widget = makeWizardPageWidget(page);
    if (!widget) return;
    widget->setParent(contentLayout_->parentWidget());
    contentLayout_->addWidget(widget);
    pageWidget_ = widget;
    QPointer<WizardPageWidget> guarded = widget;
    page->setChangedHandler([guarded] {
        if (guarded) guarded->refresh();
    });
    widget->refresh();
    widget->show();
    // The page's title in the window's: the task bar and window lists say where the user is.
    QString title = QString::fromUtf8(kAppName);
    if (auto* label = widget->findChild<QLabel*>("pageTitle"); label && !label->text().isEmpty()) {
        title += QStringLiteral(" – ") + label->text();
    }
    setWindowTitle(title);
}

void WizardWindow::wizardFlowRemovePage(const std::shared_ptr<WizardPage>& page) {
    page->setChangedHandler({});
    if (pageWidget_) {
        contentLayout_->removeWidget(pageWidget_);
        pageWidget_->hide();
        pageWidget_->deleteLater();
        pageWidget_ = nullptr;
    }
}

void WizardWindow::wizardFlowCloseWindow() {
    if (inCloseEvent_) return;  // the close under way goes on
    close();
}

void WizardWindow::closeEvent(QCloseEvent* event) {
    if (!flow_->ended()) {
        inCloseEvent_ = true;
        flow_->closeRequested();
        inCloseEvent_ = false;
        if (!flow_->ended()) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

void WizardWindow::showAlert(const WizardAlert& alert, std::function<void(int button)> done) {
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setStyleSheet(kDialogStyle);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(alert.style == WizardAlert::Style::Critical ? QMessageBox::Critical
                                                             : QMessageBox::Warning);
    box->setText(wizardText(alert.messageKey));
    if (!alert.informativeKey.empty()) box->setInformativeText(wizardText(alert.informativeKey));
    std::vector<QAbstractButton*> buttons;
    for (size_t i = 0; i < alert.buttonKeys.size(); ++i) {
        buttons.push_back(
            box->addButton(wizardText(alert.buttonKeys[i]),
                           i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    }
    if (!buttons.empty()) {
        box->setDefaultButton(static_cast<QPushButton*>(buttons.front()));
        box->setEscapeButton(buttons.back());
    }
    auto answered = std::make_shared<bool>(false);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, done, answered](int) {
        if (*answered) return;
        *answered = true;
        int index = static_cast<int>(buttons.size()) - 1;
        for (size_t i = 0; i < buttons.size(); ++i) {
            if (box->clickedButton() == buttons[i]) index = static_cast<int>(i);
        }
        done(index);
    });
    box->open();
}

void WizardWindow::chooseFile(const WizardFilePanel& panel,
                              std::function<void(std::optional<std::string> path)> done) {
    auto* dialog = new QFileDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setStyleSheet(kDialogStyle);
    dialog->setWindowModality(Qt::WindowModal);
    QString folder = panel.folder.empty()
                         ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                         : QString::fromStdString(panel.folder.string());
    dialog->setDirectory(folder);
    QStringList filters;
    if (!panel.extension.empty()) {
        const QString ext = QString::fromStdString(panel.extension);
        filters << QStringLiteral("%1 files (*.%2)").arg(ext.toUpper(), ext);
    }
    filters << QStringLiteral("All files (*)");
    dialog->setNameFilters(filters);
    if (panel.kind == WizardFilePanel::Kind::Open) {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->selectFile(QString::fromStdString(panel.defaultName));
    }
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty()) {
            done(files.front().toStdString());
        } else {
            done(std::nullopt);
        }
    });
    dialog->open();
}

void WizardWindow::bindWindowServices(WizardServices& services, QPointer<WizardWindow> window) {
    if (!services.showAlert) {
        services.showAlert = [window](const WizardAlert& alert, std::function<void(int)> done) {
            if (window) window->showAlert(alert, std::move(done));
        };
    }
    if (!services.chooseFile) {
        services.chooseFile = [window](const WizardFilePanel& panel,
                                       std::function<void(std::optional<std::string>)> done) {
            if (window) window->chooseFile(panel, std::move(done));
        };
    }
    if (!services.activateWindow) {
        services.activateWindow = [window] {
            if (!window) return;
            window->raise();
            window->activateWindow();
        };
    }
}

}  // namespace lumvane
