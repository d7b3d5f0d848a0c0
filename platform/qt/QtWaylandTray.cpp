#include "platform/qt/QtWaylandTray.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace platform::qt {

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
}  // namespace

StatusNotifierHostWait::StatusNotifierHostWait(std::function<void()> ready)
    : ready_(std::move(ready)),
      watcher_(kWatcher, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration) {
    // A watcher that comes may have a host at once; one that is there tells when a host
    // registers with it. Both are asked on the next pass, not while the bus is speaking.
    QObject::connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, &watcher_,
                     [this] { nextPass_.start(); });
    nextPass_.setSingleShot(true);
    nextPass_.setInterval(0);
    QObject::connect(&nextPass_, &QTimer::timeout, &nextPass_, [this] { check(); });
    QDBusConnection::sessionBus().connect(kWatcher, kWatcherPath, kWatcher,
                                          QStringLiteral("StatusNotifierHostRegistered"),
                                          &nextPass_, SLOT(start()));
    // A host may be there already.
    nextPass_.start();
}

bool StatusNotifierHostWait::hostRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 1000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void StatusNotifierHostWait::check() {
    if (!called_ && hostRegistered()) {
        called_ = true;
        ready_();
    }
}

}  // namespace platform::qt
