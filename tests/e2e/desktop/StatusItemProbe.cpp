// The status item with stand-in pages, driven from standard input, for the tests on a
// virtual display. Commands, one a line:
//
//   page NAME normal|priority   hand a new page to the status item
//   close NAME                  the page asks to be closed
//
// Lines it prints: "ready", "shown NAME X Y W H" (the page's window on screen),
// "hiding NAME", "released NAME", "menu open", "menu closed".
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "app/shell/QtMainLoop.h"
#include "app/desktop/TBNStatusItem.h"

namespace {

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

class ProbePage : public lumvane::TBNPopoverViewController {
  public:
    ProbePage(std::string name, bool priority) : name_(std::move(name)), priority_(priority) {
        setFixedSize(300, 160);
        setStyleSheet("background: #14213d; color: white; font-size: 18px;");
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(QString::fromStdString("Page " + name_), this));
    }
    ~ProbePage() override { say("released " + name_); }
    QString identifier() const override { return QString::fromStdString(name_); }
    bool isPriorityViewController() const override { return priority_; }
    void didShowViewControolerWithTimeAnimation(double) override {
        const QRect g = window()->geometry();
        say("shown " + name_ + " " + std::to_string(g.x()) + " " + std::to_string(g.y()) + " " +
            std::to_string(g.width()) + " " + std::to_string(g.height()));
    }
    void willHideViewControolerWithTimeAnimation(double) override { say("hiding " + name_); }

  private:
    std::string name_;
    bool priority_;
};

class Menu : public lumvane::TBNStatusItemDelegate {
  public:
    QMenu* menuToShowStatusItem(lumvane::TBNStatusItem&) override {
        auto* menu = new QMenu();
        menu->addAction("Probe menu");
        QObject::connect(menu, &QMenu::aboutToShow, [] { say("menu open"); });
        QObject::connect(menu, &QMenu::aboutToHide, [] { say("menu closed"); });
        return menu;
    }
};

QIcon icon(const QColor& color) {
    QPixmap pixmap(22, 22);
    pixmap.fill(color);
    return QIcon(pixmap);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    auto loop = std::make_shared<lumvane::QtMainLoop>();
    lumvane::MainLoop::setMain(loop);
    auto item = lumvane::TBNStatusItem::create(icon(Qt::darkGray), icon(Qt::blue), loop);
    Menu menu;
    item->setDelegate(&menu);
    std::map<std::string, std::weak_ptr<ProbePage>> pages;

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string buffer;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[256];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        buffer.append(chunk, static_cast<size_t>(n));
        for (size_t end; (end = buffer.find('\n')) != std::string::npos;) {
            std::stringstream line(buffer.substr(0, end));
            buffer.erase(0, end + 1);
            std::string verb, name, kind;
            line >> verb >> name >> kind;
            if (verb == "page") {
                std::shared_ptr<ProbePage> page(new ProbePage(name, kind == "priority"),
                                                [](ProbePage* p) { p->deleteLater(); });
                pages[name] = page;
                item->showPopoverViewController(page);
            } else if (verb == "close") {
                if (auto page = pages[name].lock()) page->closePage();
            }
        }
    });
    say("ready");
    return app.exec();
}
