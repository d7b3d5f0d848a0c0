#pragma once

// The tray's side of the StatusNotifierItem protocol, on a session bus of the test's own: a
// watcher that takes the items' registrations, as a panel's (waybar, swaybar, Plasma) does,
// and a host's reading of an item's menu (com.canonical.dbusmenu), whose entries it can
// activate as a click would.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>

#include <string>
#include <vector>

namespace vellumor::waylandtest {

inline constexpr char kWatcherService[] = "org.kde.StatusNotifierWatcher";
inline constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
inline constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
inline constexpr char kMenuInterface[] = "com.canonical.dbusmenu";

// The watcher: owns org.kde.StatusNotifierWatcher, says a host is there, and records each
// RegisterStatusNotifierItem. Served from the test's Qt event loop (see eventually()).
class StatusNotifierWatcher final : public QDBusVirtualObject {
public:
    struct Registration {
        QString item;    // what the item passed: its service name, or an object path
        QString sender;  // the unique bus name it called from
    };

    explicit StatusNotifierWatcher(QDBusConnection bus) : bus_(std::move(bus)) {
        registered_ =
            bus_.registerVirtualObject(kWatcherPath, this) && bus_.registerService(kWatcherService);
    }
    ~StatusNotifierWatcher() override { bus_.unregisterObject(kWatcherPath); }
    StatusNotifierWatcher(const StatusNotifierWatcher&) = delete;
    StatusNotifierWatcher& operator=(const StatusNotifierWatcher&) = delete;

    bool ready() const { return registered_; }
    const std::vector<Registration>& registrations() const { return registrations_; }

    QString introspect(const QString&) const override {
        return R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface>
)";
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (message.interface() == "org.freedesktop.DBus.Properties") {
            const QString name = message.arguments().value(1).toString();
            if (member == "Get") {
                connection.send(
                    message.createReply(QVariant::fromValue(QDBusVariant(property(name)))));
            } else if (member == "GetAll") {
                QVariantMap all;
                for (const char* p : {"RegisteredStatusNotifierItems",
                                      "IsStatusNotifierHostRegistered", "ProtocolVersion"}) {
                    all[p] = property(p);
                }
                connection.send(message.createReply(all));
            } else {
                return false;
            }
            return true;
        }
        if (member == "RegisterStatusNotifierItem") {
            const QString item = message.arguments().value(0).toString();
            registrations_.push_back({item, message.service()});
            connection.send(message.createReply());
            QDBusMessage signal = QDBusMessage::createSignal(kWatcherPath, kWatcherService,
                                                             "StatusNotifierItemRegistered");
            signal << item;
            connection.send(signal);
            return true;
        }
        if (member == "RegisterStatusNotifierHost") {
            connection.send(message.createReply());
            return true;
        }
        return false;
    }

private:
    QVariant property(const QString& name) const {
        if (name == "RegisteredStatusNotifierItems") {
            QStringList items;
            for (const Registration& r : registrations_) {
                items << r.item;
            }
            return items;
        }
        if (name == "IsStatusNotifierHostRegistered") {
            return true;
        }
        return 0;  // ProtocolVersion
    }

    QDBusConnection bus_;
    bool registered_ = false;
    std::vector<Registration> registrations_;
};

// One entry of a dbusmenu layout.
struct MenuEntry {
    int id = 0;
    std::string label;  // empty for a separator
    bool separator = false;
    bool enabled = true;
    bool visible = true;
};

// An item's menu as a host reads it, and its entries activated as a host does on a click.
class TrayMenu final {
public:
    TrayMenu(QDBusConnection bus, QString service, QString path)
        : bus_(std::move(bus)), service_(std::move(service)), path_(std::move(path)) {}

    // The entries of the top level, as they are when the menu opens: the host first says it
    // is about to show it (the item may fill it then), then asks for the layout. Empty, with
    // `error` set, if the item did not answer.
    std::vector<MenuEntry> open(std::string* error = nullptr) {
        QDBusMessage aboutToShow =
            QDBusMessage::createMethodCall(service_, path_, kMenuInterface, "AboutToShow");
        aboutToShow << 0;
        const QDBusMessage shown = bus_.call(aboutToShow, QDBus::Block, 10000);
        QDBusMessage getLayout =
            QDBusMessage::createMethodCall(service_, path_, kMenuInterface, "GetLayout");
        getLayout << 0 << -1 << QStringList();
        const QDBusMessage reply = bus_.call(getLayout, QDBus::Block, 10000);
        if (shown.type() != QDBusMessage::ReplyMessage ||
            reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
            if (error != nullptr) {
                *error = (shown.errorMessage() + " " + reply.errorMessage()).toStdString();
            }
            return {};
        }
        std::vector<MenuEntry> entries;
        // Read through a const argument: the non-const calls are the ones that write.
        const QDBusArgument layout = reply.arguments().at(1).value<QDBusArgument>();
        int rootId = 0;
        QVariantMap rootProperties;
        layout.beginStructure();
        layout >> rootId >> rootProperties;
        layout.beginArray();
        while (!layout.atEnd()) {
            QDBusVariant child;
            layout >> child;
            entries.push_back(entry(child.variant().value<QDBusArgument>()));
        }
        layout.endArray();
        layout.endStructure();
        return entries;
    }
    // Sends the click on the entry; does not wait for an answer, since the entry may end the
    // program.
    bool click(int id) {
        QDBusMessage event =
            QDBusMessage::createMethodCall(service_, path_, kMenuInterface, "Event");
        event << id << QString("clicked") << QVariant::fromValue(QDBusVariant(0))
              << static_cast<uint>(0);
        event.setDelayedReply(false);
        return bus_.send(event);
    }

private:
    static MenuEntry entry(const QDBusArgument& argument) {
        MenuEntry result;
        QVariantMap properties;
        argument.beginStructure();
        argument >> result.id >> properties;
        argument.beginArray();
        while (!argument.atEnd()) {
            QDBusVariant ignoredChild;
            argument >> ignoredChild;
        }
        argument.endArray();
        argument.endStructure();
        result.separator = properties.value("type").toString() == "separator";
        result.label = properties.value("label").toString().toStdString();
        result.enabled = properties.value("enabled", true).toBool();
        result.visible = properties.value("visible", true).toBool();
        return result;
    }

    QDBusConnection bus_;
    QString service_;
    QString path_;
};

// The object path of an item's menu, from its Menu property; empty if it has none.
inline QString itemMenuPath(QDBusConnection& bus, const QString& service) {
    QDBusMessage get = QDBusMessage::createMethodCall(service, "/StatusNotifierItem",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QString(kItemInterface) << QString("Menu");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    const QVariant value = reply.arguments().at(0).value<QDBusVariant>().variant();
    return value.value<QDBusObjectPath>().path();
}

}  // namespace vellumor::waylandtest
