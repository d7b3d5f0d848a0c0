// The panel's tray watcher for wayland_bench.sh: owns org.kde.StatusNotifierWatcher on the
// session bus named by its argument and writes the service of each item that registers, one
// a line, until it is stopped.
//
//   wayland_watcher BUS_ADDRESS

#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>

#include <cstdio>

#include "tests/wayland/StatusNotifier.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wayland_watcher BUS_ADDRESS\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::connectToBus(QString(argv[1]), "bench");
    vellumor::waylandtest::StatusNotifierWatcher watcher(bus);
    if (!watcher.ready()) {
        std::fprintf(stderr, "wayland_watcher: cannot take the watcher's name\n");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    std::size_t written = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (const auto& registrations = watcher.registrations(); written < registrations.size();
             ++written) {
            const auto& r = registrations[written];
            std::puts(qPrintable(r.item.startsWith('/') ? r.sender : r.item));
            std::fflush(stdout);
        }
    });
    poll.start(20);
    return QCoreApplication::exec();
}
