// The test desktop itself, before anything of vellumor's is judged on it: a window shows where
// sway says it is and takes the seat's focus and the keyboard, outputs come and go as asked,
// and the tray watcher answers as a panel's does. Were any of this wrong, the program's tests
// would blame the program.

#include <QDBusInterface>
#include <QDBusReply>

#include "tests/wayland/WaylandTest.h"

namespace vellumor::waylandtest {
namespace {

constexpr Rgb kOrange{255, 128, 0};

class HarnessTest : public WaylandTest {};

TEST_F(HarnessTest, AWindowShowsWhereSwayPlacesItAndOutputsFollowTheCommands) {
    auto& desktop = startDesktop();
    const auto first = desktop.outputs();
    ASSERT_EQ(first.size(), 1U);
    const std::string added = desktop.addOutput(1280, 1024);
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    const Output second = desktop.outputs().at(1);
    EXPECT_EQ(second.name, added);
    EXPECT_EQ(second.rect, (Geometry{first[0].rect.width, 0, 1280, 1024}));
    const QImage screen = desktop.grab();
    EXPECT_EQ(screen.width(), first[0].rect.width + 1280);
    EXPECT_EQ(screen.height(), std::max(first[0].rect.height, 1024));

    terminal_ = desktop.startTerminal(kOrange);
    ASSERT_TRUE(eventually([&] { return desktop.focused().second == terminal_->pid(); }))
        << "the terminal has not taken the focus";
    QJsonObject window;
    for (const QJsonObject& w : desktop.windows()) {
        if (w["pid"].toInt() == terminal_->pid()) {
            window = w;
        }
    }
    const QJsonObject r = window["rect"].toObject();
    const Geometry rect{r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()};
    ASSERT_GT(rect.width, 100);
    ASSERT_TRUE(eventually([&] {
        return desktop.pixel(rect.x + rect.width / 2, rect.y + rect.height / 2) == kOrange;
    })) << "the terminal's background is not where sway says the window is, "
        << rect << ": "
        << ::testing::PrintToString(
               desktop.pixel(rect.x + rect.width / 2, rect.y + rect.height / 2));
    // The terminal echoes what is typed to it: its text shows.
    const auto inked = [&] { return differing(rect, kOrange); };
    const long before = inked();
    ASSERT_TRUE(desktop.type("vellumor"));
    EXPECT_TRUE(eventually([&] { return inked() > before + 50; })) << "typing showed nothing";
    // A click beside the window, on the bare workspace, takes the focus from it.
    ASSERT_TRUE(desktop.click(second.rect.x + 100, 100));
    EXPECT_TRUE(eventually([&] { return desktop.focused().second == 0; }));
}

TEST_F(HarnessTest, OutputsOfTheNestedSwayCanBeUnplugged) {
    auto& desktop = startDesktop(true);
    ASSERT_EQ(desktop.outputs().size(), 1U);
    const std::string first = desktop.outputs()[0].name;
    const std::string added = desktop.addOutput();
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    ASSERT_TRUE(desktop.removeOutput(first));
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 1; }));
    EXPECT_EQ(desktop.outputs()[0].name, added);
    EXPECT_FALSE(desktop.grab().isNull());
}

// What Qt's tray icon asks before it registers (the watcher's IsStatusNotifierHostRegistered,
// through introspection), and the registration the watcher records.
TEST_F(HarnessTest, TheWatcherAnswersAsAPanelsWatcherDoes) {
    auto& desktop = startDesktop();
    const QDBusConnection client = QDBusConnection::connectToBus(
        QString::fromStdString(desktop.busAddress()), "harness-client");
    ASSERT_TRUE(client.isConnected());
    bool answered = false;
    QVariant host;
    std::thread asker([&] {
        QDBusInterface watcher(kWatcherService, kWatcherPath, kWatcherService, client);
        host = watcher.property("IsStatusNotifierHostRegistered");
        const QDBusMessage reply =
            watcher.call("RegisterStatusNotifierItem", QString("org.example.Item-1"));
        answered = reply.type() == QDBusMessage::ReplyMessage;
    });
    // The watcher is served from this thread's event loop while the other one asks.
    eventually([&] { return !watcher_->registrations().empty(); });
    asker.join();
    QDBusConnection::disconnectFromBus("harness-client");
    EXPECT_TRUE(host.toBool());
    EXPECT_TRUE(answered);
    ASSERT_EQ(watcher_->registrations().size(), 1U);
    EXPECT_EQ(watcher_->registrations()[0].item.toStdString(), "org.example.Item-1");
    EXPECT_TRUE(watcher_->registrations()[0].sender.startsWith(':'));
}

}  // namespace
}  // namespace vellumor::waylandtest
