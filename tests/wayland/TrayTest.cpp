// Vellumor's tray item on a Wayland session: a StatusNotifierItem registered with the panel's
// watcher, whose menu holds the program's four commands, each of which does its work when a
// panel activates it.

#include "tests/wayland/WaylandTest.h"

namespace vellumor::waylandtest {
namespace {

class TrayTest : public WaylandTest {
protected:
    // The program's window that has the focus, once there is one; its rectangle.
    std::optional<Geometry> awaitFocusedWindow() {
        std::optional<Geometry> found;
        eventually([&] {
            for (const QJsonObject& window : programWindows()) {
                if (window["focused"].toBool()) {
                    const QJsonObject r = window["rect"].toObject();
                    found = Geometry{r["x"].toInt(), r["y"].toInt(), r["width"].toInt(),
                                     r["height"].toInt()};
                }
            }
            return found.has_value();
        });
        return found;
    }
};

TEST_F(TrayTest, TheItemRegistersWithTheWatcherAndItsMenuHoldsTheFourCommands) {
    startDesktop();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(awaitTrayItem());
    EXPECT_EQ(watcher_->registrations().size(), 1U);

    std::string error;
    const auto entries = menu_->open(&error);
    std::vector<std::string> shown;
    for (const MenuEntry& entry : entries) {
        EXPECT_TRUE(entry.visible) << entry.label;
        EXPECT_TRUE(entry.enabled) << entry.label;
        shown.push_back(entry.separator ? "-" : entry.label);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"About Vellumor", "-", "Pick Color...",
                                               "Toggle Show/Hide", "-", "Quit"}))
        << error;
}

TEST_F(TrayTest, ToggleHidesAndShowsEveryOverlayAndQuitEndsTheProgramCleanly) {
    auto& desktop = startDesktop();
    desktop.addOutput(1280, 1024);
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    ASSERT_TRUE(launch());

    ASSERT_TRUE(choose("Toggle Show/Hide"));
    EXPECT_TRUE(eventually([&] { return nowhere(kDefaultGrey); })) << "the overlays stay";
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    EXPECT_TRUE(covered(kDefaultGrey));

    ASSERT_TRUE(choose("Quit"));
    const auto status = vellumor_->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
    EXPECT_TRUE(eventually([&] { return nowhere(kDefaultGrey); }));
}

// Pick Color... opens the colour dialog, a window of its own in front; each colour typed into
// it repaints every output at once, and the last one is there at the next launch.
// Disabled: the keys typed with wtype do not reach the dialog yet (no pick is stored).
TEST_F(TrayTest, DISABLED_APickedColourRepaintsEveryOutputAndIsThereAtTheNextLaunch) {
    auto& desktop = startDesktop();
    desktop.addOutput(1280, 1024);
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    ASSERT_TRUE(launch());

    ASSERT_TRUE(choose("Pick Color..."));
    const auto dialog = awaitFocusedWindow();
    ASSERT_TRUE(dialog.has_value()) << "no window of the program has the focus";
    EXPECT_FALSE(std::filesystem::exists(defaultsPath())) << "opening the dialog stored a colour";
    // The dialog's HTML field, reached by its mnemonic.
    ASSERT_TRUE(desktop.type("-M alt h -m alt -M ctrl a -m ctrl '#3366cc'"));
    const Rgb picked{0x33, 0x66, 0xcc};
    EXPECT_TRUE(covered(picked, {*dialog}));
    EXPECT_TRUE(std::filesystem::exists(defaultsPath()));

    ASSERT_TRUE(choose("Quit"));
    ASSERT_TRUE(vellumor_->waitForExit(10s).has_value());
    menu_.reset();
    ASSERT_TRUE(launch(picked));
}

TEST_F(TrayTest, AboutShowsOneWindowInFrontOfTheOverlays) {
    startDesktop();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(choose("About Vellumor"));
    const auto about = awaitFocusedWindow();
    ASSERT_TRUE(about.has_value()) << "no window of the program has the focus";
    EXPECT_TRUE(covered(kDefaultGrey, {*about}));
    EXPECT_TRUE(eventually([&] {
        return desktop_->pixel(about->x + about->width / 2, about->y + about->height / 2) !=
               kDefaultGrey;
    })) << "the About window does not show above the overlay";
    // Asked again, it comes back the same: one window, not two.
    ASSERT_TRUE(choose("About Vellumor"));
    EXPECT_EQ(programWindows().size(), 1U);
}

}  // namespace
}  // namespace vellumor::waylandtest
