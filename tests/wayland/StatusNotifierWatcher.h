#pragma once

// A panel's StatusNotifierWatcher, for the Wayland tests and bench: on its bus it says a host is
// there and records the service of each item that registers. Served from the Qt event loop.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <string>
#include <vector>

namespace vellumor::waylandtest {

class StatusNotifierWatcher final : public QDBusVirtualObject {
public:
    // Takes the watcher's name and object on `bus`; whether it could.
    bool serve(QDBusConnection& bus) {
        return bus.registerVirtualObject("/StatusNotifierWatcher", this) &&
               bus.registerService("org.kde.StatusNotifierWatcher");
    }
    QString introspect(const QString&) const override {
        return R"(<interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<signal name="StatusNotifierHostRegistered"/></interface>)";
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.member() == "Get") {
            return bus.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
        }
        if (message.member() == "RegisterStatusNotifierItem") {
            // An item names its service, or an object path on the caller's.
            const QString item = message.arguments().value(0).toString();
            items.push_back((item.startsWith('/') ? message.service() : item).toStdString());
            return bus.send(message.createReply());
        }
        return false;
    }
    std::vector<std::string> items;
};

}  // namespace vellumor::waylandtest
