// The panel's tray watcher for wayland_bench.sh: owns org.kde.StatusNotifierWatcher on the
// session bus named by its argument and writes the service of each item that registers, one
// a line, until it is stopped.
//
//   wayland_watcher BUS_ADDRESS

#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>

#include <cstdio>

#include "tests/wayland/StatusNotifierWatcher.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wayland_watcher BUS_ADDRESS\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::connectToBus(QString(argv[1]), "bench");
    vellumor::waylandtest::StatusNotifierWatcher watcher;
    if (!watcher.serve(bus)) {
        std::fprintf(stderr, "wayland_watcher: cannot take the watcher's name\n");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    std::size_t written = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (; written < watcher.items.size(); ++written) {
            std::puts(watcher.items[written].c_str());
            std::fflush(stdout);
        }
    });
    poll.start(20);
    return QCoreApplication::exec();
}
