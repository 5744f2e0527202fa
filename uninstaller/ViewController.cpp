#include "uninstaller/ViewController.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

namespace lumvane {

ViewController::ViewController(UninstallEnvironment environment, QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)) {
    setWindowTitle(QStringLiteral("Uninstall Lumvane"));

    auto* grid = new QGridLayout;
    auto addRow = [&](int row, QCheckBox*& box, QLabel*& label) {
        box = new QCheckBox(this);
        label = new QLabel(this);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setBuddy(box);
        grid->addWidget(box, row, 0, Qt::AlignTop);
        grid->addWidget(label, row, 1);
    };
    addRow(0, removeAppSwith, removeAppTextField);
    addRow(1, removePreferencesSwith, removePreferencesTextField);
    addRow(2, leaveLogsSwith, keepLogsTextField);
    addRow(3, removeBackupsSwith, removeBackupsTextField);
    grid->setColumnStretch(1, 1);

    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    uninstallPressButton = new QPushButton(QStringLiteral("Uninstall"), this);
    uninstallPressButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancelButton);
    buttons->addWidget(uninstallPressButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(12);
    layout->addLayout(buttons);

    // Only the user's own changes act ("clicked", not "toggled").
    connect(removeAppSwith, &QCheckBox::clicked, this, [this] { removeAppAction(); });
    connect(removePreferencesSwith, &QCheckBox::clicked, this,
            [this] { removePreferencesAction(); });
    connect(removeBackupsSwith, &QCheckBox::clicked, this, [this] { removeBackupsAction(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancelAction(); });
    connect(uninstallPressButton, &QPushButton::clicked, this, [this] { uninstallAction(); });

    confirmation_ = [this] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Lumvane"),
                        QString::fromUtf8(UninstallerOptions::kConfirmBackupsText),
                        QMessageBox::NoButton, this);
        QPushButton* yes = box.addButton(QStringLiteral("Yes"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
        box.setWindowModality(Qt::WindowModal);
        box.exec();
        return box.clickedButton() == yes;
    };
    failureNotice_ = [this](const UninstallReport& report) {
        QString text;
        for (const auto& line : report.failures) text += QString::fromStdString(line) + "\n";
        QMessageBox::warning(this, QStringLiteral("Lumvane was not removed completely"),
                             text.trimmed());
    };
    finish_ = [](int status) { QApplication::exit(status); };

    viewDidLoad();
}

void ViewController::viewDidLoad() {
    updateOptionLabels();
    updateControlStates();
}

void ViewController::updateOptionLabels() {
    auto labels = UninstallerOptions::optionLabels(environment_);
    removeAppTextField->setText(QString::fromStdString(labels.removeApp));
    removePreferencesTextField->setText(QString::fromStdString(labels.removePreferences));
    keepLogsTextField->setText(QString::fromStdString(labels.keepLogs));
    removeBackupsTextField->setText(QString::fromStdString(labels.removeBackups));
}

void ViewController::updateControlStates() {
    options_.setRemoveApp(removeAppSwith->isChecked());
    options_.setRemovePreferences(removePreferencesSwith->isChecked());
    options_.setLeaveLogs(leaveLogsSwith->isChecked());
    uninstallPressButton->setEnabled(options_.uninstallEnabled());
    // Disabled, the switch keeps its value.
    leaveLogsSwith->setEnabled(options_.leaveLogsEnabled());
}

void ViewController::confirmBackupRemoval() {
    const bool wanted = removeBackupsSwith->isChecked();
    const bool confirmed = confirmation_ && confirmation_();
    options_.setRemoveBackups(wanted, confirmed);
    if (removeBackupsSwith->isChecked() != options_.removeBackups()) {
        removeBackupsSwith->setChecked(options_.removeBackups());
    }
    updateControlStates();
}

void ViewController::performUninstall() {
    updateControlStates();
    if (!options_.uninstallEnabled()) return;
    Uninstaller uninstaller(environment_);
    lastReport_ = uninstaller.performUninstall(options_.choices());
    for (const auto& line : lastReport_.removed) std::printf("%s\n", line.c_str());
    for (const auto& line : lastReport_.failures) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    // Started from a menu, nobody reads standard output: failures are shown as well.
    if (!lastReport_.succeeded() && failureNotice_) failureNotice_(lastReport_);
    if (finish_) finish_(lastReport_.succeeded() ? 0 : 1);
}

void ViewController::removeAppAction() {
    updateControlStates();
}

void ViewController::removePreferencesAction() {
    removeAppAction();
}

void ViewController::removeBackupsAction() {
    confirmBackupRemoval();
}

void ViewController::cancelAction() {
    if (finish_) finish_(0);
}

void ViewController::uninstallAction() {
    performUninstall();
}

}  // namespace lumvane
