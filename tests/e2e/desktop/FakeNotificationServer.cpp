// A stand-in for the desktop's notification server on a private session bus: it owns
// org.freedesktop.Notifications, prints one line per call on standard output and, on a
// line "invoke ID ACTION" or "dismiss ID" on standard input, sends the signal a person's
// click would make.
//
//   notify id=N replaces=R app=A summary=S body=B actions=K1=T1;K2=T2 timeout=MS
//   close id=N
#include <unistd.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

std::string oneLine(const QString& text) {
    return text.toStdString() == "" ? "" : QString(text).replace("\n", "\\n").toStdString();
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void emitSignal(const char* name, const QList<QVariant>& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", name);
    signal.setArguments(arguments);
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace

class Server : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        (void)icon;
        (void)hints;
        const uint id = replaces != 0 ? replaces : ++last_;
        std::string pairs;
        for (int i = 0; i + 1 < actions.size(); i += 2) {
            if (!pairs.empty()) pairs += ";";
            pairs += actions[i].toStdString() + "=" + actions[i + 1].toStdString();
        }
        say("notify id=" + std::to_string(id) + " replaces=" + std::to_string(replaces) +
            " app=" + oneLine(app) + " summary=" + oneLine(summary) + " body=" + oneLine(body) +
            " actions=" + pairs + " timeout=" + std::to_string(timeout));
        return id;
    }
    void CloseNotification(uint id) {
        say("close id=" + std::to_string(id));
        emitSignal("NotificationClosed", {QVariant::fromValue(id), QVariant::fromValue(3u)});
    }
    QStringList GetCapabilities() { return {"actions", "body"}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& spec) {
        vendor = "lumvane-tests";
        version = "1";
        spec = "1.2";
        return "fake-notifications";
    }

  private:
    uint last_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Server server;
    if (!bus.registerObject("/org/freedesktop/Notifications", &server,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.Notifications")) {
        std::fprintf(stderr, "cannot own org.freedesktop.Notifications: %s\n",
                     bus.lastError().message().toStdString().c_str());
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            input.setEnabled(false);
            return;
        }
        char verb[16] = {0};
        char action[64] = {0};
        unsigned id = 0;
        if (std::sscanf(line.c_str(), "invoke %u %63s", &id, action) == 2) {
            emitSignal("ActionInvoked", {QVariant::fromValue(id), QString(action)});
        } else if (std::sscanf(line.c_str(), "%15s %u", verb, &id) == 2 &&
                   std::string(verb) == "dismiss") {
            emitSignal("NotificationClosed", {QVariant::fromValue(id), QVariant::fromValue(2u)});
        }
    });
    say("notification server ready");
    return app.exec();
}

#include "FakeNotificationServer.moc"
