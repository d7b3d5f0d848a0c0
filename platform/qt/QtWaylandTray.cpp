#include "platform/qt/QtWaylandTray.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

#include <chrono>

namespace platform::qt {

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr std::chrono::seconds kRetry{1};
}  // namespace

StatusNotifierHostWait::StatusNotifierHostWait(std::function<void()> ready)
    : ready_(std::move(ready)),
      watcher_(kWatcher, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration) {
    QObject::connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, &watcher_,
                     [this] { check(); });
    retry_.setSingleShot(true);
    retry_.setInterval(kRetry);
    QObject::connect(&retry_, &QTimer::timeout, &retry_, [this] { check(); });
    // A host may be there already.
    QTimer::singleShot(0, &retry_, [this] { check(); });
}

bool StatusNotifierHostWait::hostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 1000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void StatusNotifierHostWait::check() {
    if (called_) {
        return;
    }
    if (hostRegistered()) {
        called_ = true;
        retry_.stop();
        ready_();
        return;
    }
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus != nullptr && bus->isServiceRegistered(kWatcher)) {
        retry_.start();
    }
}

}  // namespace platform::qt
