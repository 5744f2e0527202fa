// The widgets of the wizard pages: each draws its page's state in refresh() and hands
// the user's actions to the page. No decisions are taken here.
#include <QAbstractButton>
#include <QDialog>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/shell/QRCodeGenerator.h"
#include "ui/DeviceCell.h"
#include "ui/wizard/WizardDevicePages.h"
#include "ui/wizard/WizardFirstRunPages.h"
#include "ui/wizard/WizardImportExportPages.h"
#include "ui/wizard/WizardText.h"
#include "ui/wizard/WizardWindow.h"

namespace lumvane {

// A small on/off switch: a rounded track with a round knob.
class WizardSwitch : public QAbstractButton {
  public:
    explicit WizardSwitch(QWidget* parent = nullptr) : QAbstractButton(parent) {
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override { return {46, 26}; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
        const qreal radius = track.height() / 2;
        p.setPen(Qt::NoPen);
        p.setBrush(isChecked() ? QColor(76, 175, 80) : QColor(255, 255, 255, 70));
        if (!isEnabled()) p.setOpacity(0.5);
        p.drawRoundedRect(track, radius, radius);
        const qreal d = track.height() - 4;
        const qreal x = isChecked() ? track.right() - d - 2 : track.left() + 2;
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(x, track.top() + 2, d, d));
    }
};

namespace {

QLabel* titleLabel(const std::string& key, QWidget* parent) {
    auto* label = new QLabel(wizardText(key), parent);
    label->setObjectName("pageTitle");
    label->setStyleSheet("font-size: 17px; font-weight: bold;");
    return label;
}

QLabel* textLabel(const QString& text, QWidget* parent, const char* name = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (name) label->setObjectName(name);
    return label;
}

void setRowsHeight(QListWidget* list, int height) {
    for (int i = 0; i < list->count(); ++i) list->item(i)->setSizeHint(QSize(0, height));
}

// The list of both windows' first pages.
QListWidget* typeList(const std::vector<std::string>& titleKeys, QWidget* parent,
                      const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const auto& key : titleKeys) list->addItem(wizardText(key));
    setRowsHeight(list, 40);
    return list;
}

void selectRowSilently(QListWidget* list, int row) {
    const bool blocked = list->blockSignals(true);
    list->setCurrentRow(row);
    list->blockSignals(blocked);
}

// ---- First run -----------------------------------------------------------------------

class WelcomeWidget : public WizardPageWidget {
  public:
    explicit WelcomeWidget(std::shared_ptr<WizardWelcomePage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_WELCOME_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_WELCOME_TEXT"), this));
        layout->addSpacing(8);
        state_ = textLabel("", this, "bleStateTextField");
        layout->addWidget(state_);
        layout->addStretch(1);
        auto* pricing = new QPushButton(wizardText("WIZARD_WELCOME_PRICING"), this);
        pricing->setObjectName("pricingButton");
        pricing->setFlat(true);
        pricing->setCursor(Qt::PointingHandCursor);
        pricing->setStyleSheet(
            "QPushButton { border: none; background: transparent; text-decoration: underline;"
            " padding: 0px; min-width: 0px; text-align: left; }");
        auto weak = std::weak_ptr<WizardWelcomePage>(page_);
        QObject::connect(pricing, &QPushButton::clicked, this, [weak] {
            if (auto page = weak.lock()) page->openPricing();
        });
        layout->addWidget(pricing, 0, Qt::AlignLeft);
    }
    void refresh() override {
        switch (page_->check()) {
            case WizardWelcomePage::Check::Running:
                state_->setText(wizardText("WIZARD_WELCOME_BLE_CHECKING"));
                break;
            case WizardWelcomePage::Check::Passed:
                state_->setText(QStringLiteral("✓ ") + wizardText("WIZARD_WELCOME_BLE_OK"));
                break;
            case WizardWelcomePage::Check::Failed:
                state_->setText(wizardText("WIZARD_WELCOME_BLE_FAILED"));
                break;
        }
    }

  private:
    std::shared_ptr<WizardWelcomePage> page_;
    QLabel* state_;
};

class LicenseWidget : public WizardPageWidget {
  public:
    explicit LicenseWidget(std::shared_ptr<WizardLicensePage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_LICENSE_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_LICENSE_TEXT"), this));
        auto* text = new QTextBrowser(this);
        text->setObjectName("licenseTextView");
        QFile file(QStringLiteral(":/wizard/license.txt"));
        if (file.open(QIODevice::ReadOnly)) text->setPlainText(QString::fromUtf8(file.readAll()));
        text->setStyleSheet(
            "QTextBrowser { font-size: 13px; color: white; background: rgba(255,255,255,20);"
            " border: 1px solid rgba(255,255,255,70); border-radius: 4px; padding: 6px; }");
        layout->addWidget(text, 1);
    }
    void refresh() override {}

  private:
    std::shared_ptr<WizardLicensePage> page_;
};

class ConsentWidget : public WizardPageWidget {
  public:
    explicit ConsentWidget(std::shared_ptr<WizardConsentPage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_CONSENT_TITLE", this));
        info_ = textLabel("", this, "infoTextField");
        layout->addWidget(info_);
        layout->addSpacing(12);
        auto* row = new QHBoxLayout();
        switch_ = new WizardSwitch(this);
        switch_->setObjectName("debugSwitch");
        switchLabel_ = new QLabel(wizardText("WIZARD_CONSENT_SWITCH"), this);
        switchLabel_->setObjectName("debugSwitchTitleTextField");
        row->addWidget(switch_);
        row->addSpacing(8);
        row->addWidget(switchLabel_);
        row->addStretch(1);
        layout->addLayout(row);
        layout->addStretch(1);
        auto weak = std::weak_ptr<WizardConsentPage>(page_);
        QObject::connect(switch_, &QAbstractButton::toggled, this, [weak](bool on) {
            if (auto page = weak.lock()) page->setChecked(on);
        });
    }
    void refresh() override {
        info_->setText(wizardText(page_->infoKey()));
        switch_->setVisible(page_->switchVisible());
        switchLabel_->setVisible(page_->switchVisible());
        const bool blocked = switch_->blockSignals(true);
        switch_->setChecked(page_->checked());
        switch_->blockSignals(blocked);
        switch_->update();
    }

  private:
    std::shared_ptr<WizardConsentPage> page_;
    QLabel* info_;
    WizardSwitch* switch_;
    QLabel* switchLabel_;
};

class ExtensionsWidget : public WizardPageWidget {
  public:
    explicit ExtensionsWidget(std::shared_ptr<WizardExtensionsPage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_EXTENSIONS_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_EXTENSIONS_TEXT"), this));
        layout->addSpacing(4);
        auto* grid = new QGridLayout();
        grid->setVerticalSpacing(4);
        grid->setColumnStretch(1, 1);
        int r = 0;
        auto weak = std::weak_ptr<WizardExtensionsPage>(page_);
        for (const auto& row : page_->rows()) {
            auto* name = new QLabel(QString::fromStdString(row.name), this);
            name->setStyleSheet("font-weight: bold;");
            auto* found = new QLabel(wizardText(row.installed ? "WIZARD_EXTENSIONS_FOUND"
                                                              : "WIZARD_EXTENSIONS_NOT_FOUND"),
                                     this);
            found->setStyleSheet(row.installed ? "color: rgba(255,255,255,200);"
                                               : "color: rgba(255,255,255,110);");
            auto* install = new QPushButton(wizardText("WIZARD_EXTENSIONS_INSTALL"), this);
            install->setObjectName(QStringLiteral("installButton_%1")
                                       .arg(QString::fromStdString(row.name))
                                       .remove(' '));
            install->setEnabled(row.installed);
            install->setStyleSheet("padding: 3px 14px; min-width: 70px;");
            const TBNBrowser browser = row.browser;
            QObject::connect(install, &QPushButton::clicked, this, [weak, browser] {
                if (auto page = weak.lock()) page->install(browser);
            });
            grid->addWidget(name, r, 0);
            grid->addWidget(found, r, 1);
            grid->addWidget(install, r, 2);
            ++r;
        }
        layout->addLayout(grid);
        layout->addStretch(1);
        registration_ = textLabel("", this, "registrationTextField");
        identity_ = textLabel("", this, "identityTextField");
        layout->addWidget(registration_);
        layout->addWidget(identity_);
    }
    void refresh() override {
        if (auto browser = page_->registeringBrowser()) {
            QString name;
            for (const auto& row : page_->rows()) {
                if (row.browser == *browser) name = QString::fromStdString(row.name);
            }
            registration_->setText(wizardText("WIZARD_EXTENSIONS_REGISTERING").replace("%@", name));
            registration_->show();
        } else {
            registration_->hide();
        }
        const char* key = nullptr;
        switch (page_->identity()) {
            case WizardExtensionsPage::Identity::Pending:
                break;
            case WizardExtensionsPage::Identity::Asking:
            case WizardExtensionsPage::Identity::Refused:
                key = "WIZARD_EXTENSIONS_IDENTITY_ASKING";
                break;
            case WizardExtensionsPage::Identity::Creating:
                key = "WIZARD_EXTENSIONS_IDENTITY_CREATING";
                break;
            case WizardExtensionsPage::Identity::Ready:
                key = "WIZARD_EXTENSIONS_IDENTITY_READY";
                break;
            case WizardExtensionsPage::Identity::Failed:
                key = "WIZARD_EXTENSIONS_IDENTITY_FAILED";
                break;
        }
        identity_->setVisible(key != nullptr);
        if (key) identity_->setText(wizardText(key));
    }

  private:
    std::shared_ptr<WizardExtensionsPage> page_;
    QLabel* registration_;
    QLabel* identity_;
};

QPixmap qrPixmap(const std::string& value, int size) {
    QRCodeGenerator generator;
    auto image = generator.createImageWithValue(value, size, size);
    return image ? QPixmap::fromImage(*image) : QPixmap();
}

class PairQRCodeWidget : public WizardPageWidget {
  public:
    static constexpr int kCodeSize = 200;
    static constexpr int kZoomSize = 420;

    explicit PairQRCodeWidget(std::shared_ptr<WizardPairQRCodePage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_PAIR_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_PAIR_TEXT"), this));
        auto* row = new QHBoxLayout();
        auto* box = new QWidget(this);
        box->setObjectName("qrCodeBox");
        box->setFixedSize(kCodeSize + 16, kCodeSize + 16);
        box->setStyleSheet("#qrCodeBox { background: white; border-radius: 6px; }");
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(8, 8, 8, 8);
        code_ = new QLabel(box);
        code_->setObjectName("qrCodeImageView");
        code_->setFixedSize(kCodeSize, kCodeSize);
        boxLayout->addWidget(code_);
        waiting_ = new QLabel(wizardText("WIZARD_PAIR_WAITING_CODE"), box);
        waiting_->setStyleSheet("color: #145c69;");
        waiting_->setAlignment(Qt::AlignCenter);
        waiting_->setWordWrap(true);
        boxLayout->addWidget(waiting_);
        row->addWidget(box, 0, Qt::AlignTop);
        row->addSpacing(16);
        auto* side = new QVBoxLayout();
        state_ = textLabel("", this, "stateTextField");
        state_->setStyleSheet("font-size: 15px;");
        failed_ = textLabel("", this, "failedTextField");
        failed_->setStyleSheet("color: #ffd48a;");
        auto* zoom = new QPushButton(wizardText("WIZARD_PAIR_ZOOM"), this);
        zoom->setObjectName("zoomButton");
        QObject::connect(zoom, &QPushButton::clicked, this, [this] { openZoom(); });
        side->addWidget(state_);
        side->addWidget(failed_);
        side->addStretch(1);
        side->addWidget(zoom, 0, Qt::AlignLeft);
        row->addLayout(side, 1);
        layout->addLayout(row);
        layout->addStretch(1);
    }
    ~PairQRCodeWidget() override {
        if (zoom_) zoom_->close();
    }
    void refresh() override {
        const auto& value = page_->qrCodeValue();
        if (value && *value != shownValue_) {
            shownValue_ = *value;
            code_->setPixmap(qrPixmap(*value, kCodeSize));
        }
        code_->setVisible(value.has_value());
        waiting_->setVisible(!value.has_value());
        state_->setText(QString::fromStdString(page_->stateText()));
        const bool failed = page_->state() == WizardPairQRCodePage::State::Failed;
        // The last progress text would contradict the failure shown below it.
        state_->setVisible(!failed);
        failed_->setVisible(failed);
        if (failed) {
            QString text = wizardText("WIZARD_PAIR_FAILED");
            if (!page_->failureText().empty()) {
                text += QStringLiteral("\n(") + QString::fromStdString(page_->failureText()) + ")";
            }
            failed_->setText(text);
        }
        if (!page_->zoomOpen() && zoom_) zoom_->close();
        // A larger code opened before the invitation came shows it once it is there.
        if (zoom_ && zoomCode_ && value && zoomValue_ != *value) {
            zoomValue_ = *value;
            zoomCode_->setPixmap(qrPixmap(*value, kZoomSize));
        }
    }

  private:
    void openZoom() {
        if (zoom_) zoom_->close();
        auto* dialog = new QDialog(window());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setObjectName("qrZoomWindow");
        dialog->setWindowTitle(wizardText("WIZARD_PAIR_ZOOM_TITLE"));
        // White for the camera; its own text colour, since the window's white labels would
        // reach into it.
        dialog->setStyleSheet(
            "QDialog#qrZoomWindow { background: white; }"
            " QLabel { color: #145c69; background: white; font-size: 15px; }");
        auto* layout = new QVBoxLayout(dialog);
        layout->setContentsMargins(24, 24, 24, 24);
        auto* code = new QLabel(dialog);
        code->setFixedSize(kZoomSize, kZoomSize);
        zoomCode_ = code;
        zoomValue_.clear();
        if (page_->qrCodeValue()) {
            zoomValue_ = *page_->qrCodeValue();
            code->setPixmap(qrPixmap(*page_->qrCodeValue(), kZoomSize));
        } else {
            code->setText(wizardText("WIZARD_PAIR_WAITING_CODE"));
            code->setAlignment(Qt::AlignCenter);
        }
        layout->addWidget(code);
        std::weak_ptr<WizardPairQRCodePage> weak = page_;
        QObject::connect(dialog, &QDialog::finished, dialog, [weak] {
            if (auto page = weak.lock()) page->setZoomOpen(false);
        });
        zoom_ = dialog;
        page_->setZoomOpen(true);
        dialog->show();
    }

    std::shared_ptr<WizardPairQRCodePage> page_;
    QLabel* code_;
    QLabel* waiting_;
    QLabel* state_;
    QLabel* failed_;
    QPointer<QDialog> zoom_;
    QPointer<QLabel> zoomCode_;
    std::string shownValue_;
    std::string zoomValue_;
};

class DoneWidget : public WizardPageWidget {
  public:
    explicit DoneWidget(std::shared_ptr<WizardDonePage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_DONE_TITLE", this));
        info_ = textLabel("", this, "infoTextField");
        layout->addWidget(info_);
        layout->addStretch(1);
    }
    void refresh() override { info_->setText(wizardText(page_->infoKey())); }

  private:
    std::shared_ptr<WizardDonePage> page_;
    QLabel* info_;
};

// ---- Import and export ---------------------------------------------------------------

class ImportWidget : public WizardPageWidget {
  public:
    explicit ImportWidget(std::shared_ptr<WizardImportPage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_IMPORT_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_IMPORT_TEXT"), this));
        std::vector<std::string> keys;
        for (int32_t source : page_->sources()) {
            auto info = importSourceInfo(source);
            keys.push_back(info ? info->titleKey : std::string());
        }
        list_ = typeList(keys, this, "sourceTableView");
        layout->addWidget(list_, 1);
        auto weak = std::weak_ptr<WizardImportPage>(page_);
        QObject::connect(list_, &QListWidget::currentRowChanged, this, [weak](int row) {
            if (auto page = weak.lock()) page->selectRow(row);
        });
    }
    void refresh() override { selectRowSilently(list_, page_->selectedRow()); }

  private:
    std::shared_ptr<WizardImportPage> page_;
    QListWidget* list_;
};

// The file field and its button.
class FileRow {
  public:
    FileRow(QWidget* parent, QVBoxLayout* layout, std::function<void(const std::string&)> edited,
            std::function<void()> choose) {
        auto* row = new QHBoxLayout();
        field = new QLineEdit(parent);
        field->setObjectName("fileTextField");
        field->setPlaceholderText(wizardText("WIZARD_FILE_PLACEHOLDER"));
        auto* button = new QPushButton(wizardText("WIZARD_FILE_CHOOSE"), parent);
        button->setObjectName("fileSelectButton");
        row->addWidget(field, 1);
        row->addWidget(button);
        layout->addLayout(row);
        QObject::connect(field, &QLineEdit::textEdited, parent,
                         [edited](const QString& text) { edited(text.toStdString()); });
        QObject::connect(button, &QPushButton::clicked, parent, [choose] { choose(); });
    }
    void show(const std::string& path) {
        const QString text = QString::fromStdString(path);
        if (field->text() != text) field->setText(text);
    }
    QLineEdit* field;
};

class ImportSourceFileWidget : public WizardPageWidget {
  public:
    explicit ImportSourceFileWidget(std::shared_ptr<WizardImportSourceFilePage> page)
        : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_IMPORT_FILE_TITLE", this));
        auto info = importSourceInfo(page_->type());
        layout->addWidget(textLabel(wizardText("WIZARD_IMPORT_FILE_TEXT")
                                        .replace("%@", info ? wizardText(info->titleKey) : ""),
                                    this));
        layout->addSpacing(8);
        auto weak = std::weak_ptr<WizardImportSourceFilePage>(page_);
        file_ = std::make_unique<FileRow>(
            this, layout,
            [weak](const std::string& path) {
                if (auto page = weak.lock()) page->setFilePath(path);
            },
            [weak] {
                if (auto page = weak.lock()) page->selectFile();
            });
        layout->addStretch(1);
    }
    void refresh() override { file_->show(page_->filePath()); }

  private:
    std::shared_ptr<WizardImportSourceFilePage> page_;
    std::unique_ptr<FileRow> file_;
};

class ExportWidget : public WizardPageWidget {
  public:
    explicit ExportWidget(std::shared_ptr<WizardExportPage> page) : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_EXPORT_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_EXPORT_TEXT"), this));
        std::vector<std::string> keys;
        for (int32_t destination : page_->destinations()) {
            auto info = exportDestinationInfo(destination);
            keys.push_back(info ? info->titleKey : std::string());
        }
        list_ = typeList(keys, this, "destinationTableView");
        list_->setFixedHeight(44 * static_cast<int>(keys.size()) + 4);
        layout->addWidget(list_);
        layout->addSpacing(8);
        auto weak = std::weak_ptr<WizardExportPage>(page_);
        QObject::connect(list_, &QListWidget::currentRowChanged, this, [weak](int row) {
            if (auto page = weak.lock()) page->selectRow(row);
        });
        file_ = std::make_unique<FileRow>(
            this, layout,
            [weak](const std::string& path) {
                if (auto page = weak.lock()) page->setFilePath(path);
            },
            [weak] {
                if (auto page = weak.lock()) page->selectFile();
            });
        layout->addStretch(1);
    }
    void refresh() override {
        selectRowSilently(list_, page_->selectedRow());
        file_->show(page_->filePath());
    }

  private:
    std::shared_ptr<WizardExportPage> page_;
    QListWidget* list_;
    std::unique_ptr<FileRow> file_;
};

class ProgressWidget : public WizardPageWidget {
  public:
    ProgressWidget(std::shared_ptr<WizardTransferProgressPage> page, bool import)
        : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel(
            import ? "WIZARD_IMPORT_PROGRESS_TITLE" : "WIZARD_EXPORT_PROGRESS_TITLE", this));
        layout->addSpacing(12);
        subtitle_ = textLabel("", this, "subTitleTextField");
        subtitle_->setStyleSheet("font-size: 15px;");
        progress_ = new QProgressBar(this);
        progress_->setObjectName("progressIndicator");
        progress_->setRange(0, 0);
        progress_->setTextVisible(false);
        done_ = textLabel(wizardText(import ? "WIZARD_IMPORT_DONE" : "WIZARD_EXPORT_DONE"), this,
                          "doneTextField");
        done_->setStyleSheet("font-size: 15px;");
        failed_ = textLabel(wizardText("WIZARD_TRANSFER_FAILED"), this, "failedTextField");
        failed_->setStyleSheet("font-size: 15px;");
        failedMessage_ = textLabel("", this, "failedMessageTextField");
        failedMessage_->setStyleSheet("color: #ffd48a;");
        layout->addWidget(subtitle_);
        layout->addWidget(progress_);
        layout->addWidget(done_);
        layout->addWidget(failed_);
        layout->addWidget(failedMessage_);
        layout->addStretch(1);
    }
    void refresh() override {
        const auto& subtitle = page_->subtitleKey();
        const bool running = !page_->done() && !page_->failed();
        subtitle_->setVisible(subtitle.has_value() && running);
        if (subtitle) subtitle_->setText(wizardText(*subtitle));
        progress_->setVisible(running);
        progress_->setRange(0, running ? 0 : 1);
        done_->setVisible(page_->done());
        failed_->setVisible(page_->failed());
        failedMessage_->setVisible(page_->failed());
        // Messages of our own are localisation keys; others (the phone's) show as they are.
        failedMessage_->setText(wizardText(page_->failureMessage()));
    }

  private:
    std::shared_ptr<WizardTransferProgressPage> page_;
    QLabel* subtitle_;
    QProgressBar* progress_;
    QLabel* done_;
    QLabel* failed_;
    QLabel* failedMessage_;
};

// ---- Device pairing pages ------------------------------------------------------------

QString css(const CellColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(qRound(c.r * 255))
        .arg(qRound(c.g * 255))
        .arg(qRound(c.b * 255))
        .arg(qRound(c.a * 255));
}

// One row of the source table: a rounded box with a title and a subtitle.
class CellView : public QFrame {
  public:
    explicit CellView(QWidget* parent) : QFrame(parent) {
        setObjectName("backgroudBoxView");
        setCursor(Qt::PointingHandCursor);
        setMinimumHeight(64);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(14, 8, 14, 8);
        layout->setSpacing(2);
        title = new QLabel(this);
        title->setObjectName("titleTextField");
        title->setStyleSheet("font-weight: bold;");
        subtitle = new QLabel(this);
        subtitle->setObjectName("subTitleTextField");
        layout->addWidget(title);
        layout->addWidget(subtitle);
    }
    void apply(const CellStyle& style) {
        setStyleSheet(QStringLiteral("#backgroudBoxView { background: %1; border-radius: 6px; }")
                          .arg(css(style.fill)));
        title->setStyleSheet(QStringLiteral("font-weight: bold; color: %1;").arg(css(style.title)));
        subtitle->setStyleSheet(QStringLiteral("color: %1;").arg(css(style.subtitle)));
    }
    std::function<void()> clicked;
    QLabel* title;
    QLabel* subtitle;

  protected:
    void mousePressEvent(QMouseEvent*) override {
        if (clicked) clicked();
    }
};

// The rows of the wizard's phones.
constexpr int kDeviceRowHeight = 76;

class SelectSourceWidget : public WizardPageWidget {
  public:
    explicit SelectSourceWidget(std::shared_ptr<WizardSelectSourcePage> page)
        : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_SELECT_SOURCE_TITLE", this));
        auto weak = std::weak_ptr<WizardSelectSourcePage>(page_);
        for (int row = 0; row < WizardSelectSourcePage::kRows; ++row) {
            auto* cell = new CellView(this);
            const auto texts = sourceCellTexts(static_cast<uint64_t>(row));
            cell->title->setText(wizardText(texts->titleKey));
            cell->subtitle->setText(wizardText(texts->subtitleKey));
            cell->clicked = [weak, row] {
                if (auto page = weak.lock()) page->selectRow(row);
            };
            cells_.push_back(cell);
            layout->addWidget(cell);
        }
        layout->addStretch(1);
    }
    void refresh() override {
        for (int row = 0; row < static_cast<int>(cells_.size()); ++row) {
            cells_[row]->apply(sourceCellStyle(row == page_->selectedRow(), row > 1));
        }
    }

  private:
    std::shared_ptr<WizardSelectSourcePage> page_;
    std::vector<CellView*> cells_;
};

class SelectDeviceWidget : public WizardPageWidget {
  public:
    explicit SelectDeviceWidget(std::shared_ptr<WizardSelectDevicePage> page)
        : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_SELECT_DEVICE_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_SELECT_DEVICE_TEXT"), this));
        searching_ = textLabel(wizardText("WIZARD_SELECT_DEVICE_SEARCHING"), this);
        progress_ = new QProgressBar(this);
        progress_->setObjectName("progressIndicator");
        progress_->setRange(0, 0);
        progress_->setTextVisible(false);
        layout->addWidget(searching_);
        layout->addWidget(progress_);
        cells_ = new QVBoxLayout();
        layout->addLayout(cells_);
        layout->addStretch(1);
    }
    void refresh() override {
        searching_->setVisible(page_->searching());
        progress_->setVisible(page_->searching());
        while (auto* item = cells_->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        auto weak = std::weak_ptr<WizardSelectDevicePage>(page_);
        const auto& devices = page_->onlineDevices();
        for (int row = 0; row < static_cast<int>(devices.size()); ++row) {
            auto* cell = new TBNWizardDeviceTableCellView(kDeviceRowHeight, this);
            cell->setCursor(Qt::PointingHandCursor);
            cell->updateForDevice(devices[row].get(), row == page_->selectedRow());
            cell->clicked = [weak, row] {
                if (auto page = weak.lock()) page->selectRow(row);
            };
            cells_->addWidget(cell);
        }
    }

  private:
    std::shared_ptr<WizardSelectDevicePage> page_;
    QLabel* searching_;
    QProgressBar* progress_;
    QVBoxLayout* cells_;
};

class PairingWithDeviceWidget : public WizardPageWidget {
  public:
    explicit PairingWithDeviceWidget(std::shared_ptr<WizardPairingWithDevicePage> page)
        : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_PAIRING_DEVICE_TITLE", this));
        cell_ = new TBNWizardDeviceTableCellView(kDeviceRowHeight, this);
        layout->addWidget(cell_);
        layout->addSpacing(8);
        layout->addWidget(textLabel(wizardText("WIZARD_PAIRING_DEVICE_TEXT"), this));
        code_ = new QLabel(this);
        code_->setObjectName("pairCodeTextField");
        code_->setStyleSheet("font-size: 28px; font-weight: bold; letter-spacing: 6px;");
        layout->addWidget(code_);
        auto* progress = new QProgressBar(this);
        progress->setObjectName("progressIndicator");
        progress->setRange(0, 0);
        progress->setTextVisible(false);
        layout->addWidget(progress);
        layout->addStretch(1);
    }
    void refresh() override {
        cell_->updateForDevice(page_->pairingDevice().get(), false);
        code_->setText(QString::fromStdString(page_->pairCode()));
    }

  private:
    std::shared_ptr<WizardPairingWithDevicePage> page_;
    TBNWizardDeviceTableCellView* cell_;
    QLabel* code_;
};

class InviteWidget : public WizardPageWidget {
  public:
    explicit InviteWidget(std::shared_ptr<WizardInviteToInstallPage> page)
        : page_(std::move(page)) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(titleLabel("WIZARD_INVITE_TITLE", this));
        layout->addWidget(textLabel(wizardText("WIZARD_INVITE_TEXT"), this));
        email_ = new QLineEdit(this);
        email_->setObjectName("emailTextField");
        email_->setPlaceholderText(wizardText("WIZARD_INVITE_EMAIL_PLACEHOLDER"));
        layout->addWidget(email_);
        layout->addStretch(1);
        auto weak = std::weak_ptr<WizardInviteToInstallPage>(page_);
        QObject::connect(email_, &QLineEdit::textEdited, this, [weak](const QString& text) {
            if (auto page = weak.lock()) page->setEmail(text.toStdString());
        });
    }
    void refresh() override {}

  private:
    std::shared_ptr<WizardInviteToInstallPage> page_;
    QLineEdit* email_;
};

class StartServiceDoneWidget : public WizardPageWidget {
  public:
    explicit StartServiceDoneWidget(std::shared_ptr<WizardStartServiceDonePage> page)
        : page_(std::move(page)) {
        const bool invite = page_->identifier() == kInviteDonePageId;
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(
            titleLabel(invite ? "WIZARD_INVITE_DONE_TITLE" : "WIZARD_SKIP_DONE_TITLE", this));
        layout->addWidget(textLabel(
            wizardText(invite ? "WIZARD_INVITE_DONE_TEXT" : "WIZARD_SKIP_DONE_TEXT"), this));
        layout->addStretch(1);
    }
    void refresh() override {}

  private:
    std::shared_ptr<WizardStartServiceDonePage> page_;
};

template <class Widget, class Page>
WizardPageWidget* widgetFor(const std::shared_ptr<WizardPage>& page) {
    if (auto typed = std::dynamic_pointer_cast<Page>(page)) return new Widget(typed);
    return nullptr;
}

}  // namespace

WizardPageWidget* makeWizardPageWidget(const std::shared_ptr<WizardPage>& page) {
    using Make = WizardPageWidget* (*)(const std::shared_ptr<WizardPage>&);
    static const Make makers[] = {
        widgetFor<WelcomeWidget, WizardWelcomePage>,
        widgetFor<LicenseWidget, WizardLicensePage>,
        widgetFor<ConsentWidget, WizardConsentPage>,
        widgetFor<ExtensionsWidget, WizardExtensionsPage>,
        widgetFor<PairQRCodeWidget, WizardPairQRCodePage>,
        widgetFor<DoneWidget, WizardDonePage>,
        widgetFor<ImportWidget, WizardImportPage>,
        widgetFor<ImportSourceFileWidget, WizardImportSourceFilePage>,
        widgetFor<ExportWidget, WizardExportPage>,
        widgetFor<SelectSourceWidget, WizardSelectSourcePage>,
        widgetFor<SelectDeviceWidget, WizardSelectDevicePage>,
        widgetFor<PairingWithDeviceWidget, WizardPairingWithDevicePage>,
        widgetFor<InviteWidget, WizardInviteToInstallPage>,
        widgetFor<StartServiceDoneWidget, WizardStartServiceDonePage>,
    };
    for (Make make : makers) {
        if (auto* widget = make(page)) return widget;
    }
    if (auto progress = std::dynamic_pointer_cast<WizardImportProgressPage>(page)) {
        return new ProgressWidget(progress, true);
    }
    if (auto progress = std::dynamic_pointer_cast<WizardExportProgressPage>(page)) {
        return new ProgressWidget(progress, false);
    }
    return nullptr;
}

}  // namespace lumvane
