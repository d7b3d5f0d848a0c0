// What a start shows before the program is loaded: the overlays' look from the last run, at
// the bottom of the stack, on every monitor, until the overlays themselves are on screen.

#include <fstream>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

// The kept look of the default grey on Xvfb's root visual at depth 24, and a red.
constexpr char kGreyLook[] = "001a1a1a 00ff0000 0000ff00 000000ff\n";
constexpr char kRedLook[] = "00c00000 00ff0000 0000ff00 000000ff\n";

// One change among the root window's children, as the server told of it.
struct RootEvent {
    enum Kind { Made, PutAtBottom, Mapped, Gone } kind;
    xcb_window_t window;
    bool overrideRedirect = false;
    Geometry at{};
};

// Under openbox, which takes the overlays on as desktop windows, and with no manager at all,
// where they are mapped at once; `GetParam()` is whether openbox runs.
class EarlyDesktopTest : public DesktopTest, public ::testing::WithParamInterface<bool> {
protected:
    void listenToRoot() {
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c_, root(), XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c_);
    }
    // The changes since the last call.
    std::vector<RootEvent> rootEvents() {
        xcb_flush(c_);
        X11_REPLY(get_input_focus);  // a round trip: every earlier event has come
        std::vector<RootEvent> events;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            switch (event->response_type & 0x7F) {
                case XCB_CREATE_NOTIFY: {
                    const auto& made = *reinterpret_cast<xcb_create_notify_event_t*>(event);
                    events.push_back({RootEvent::Made,
                                      made.window,
                                      made.override_redirect != 0,
                                      {made.x, made.y, made.width, made.height}});
                    break;
                }
                case XCB_CONFIGURE_NOTIFY: {
                    const auto& moved = *reinterpret_cast<xcb_configure_notify_event_t*>(event);
                    if (moved.above_sibling == XCB_WINDOW_NONE) {
                        events.push_back({RootEvent::PutAtBottom, moved.window});
                    }
                    break;
                }
                case XCB_MAP_NOTIFY:
                    events.push_back({RootEvent::Mapped,
                                      reinterpret_cast<xcb_map_notify_event_t*>(event)->window});
                    break;
                case XCB_DESTROY_NOTIFY:
                    events.push_back(
                        {RootEvent::Gone,
                         reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window});
                    break;
                default:
                    break;
            }
            std::free(event);
        }
        return events;
    }
    // The stand-ins among `events`: windows no manager takes on, made on a monitor's place.
    std::vector<xcb_window_t> standIns(const std::vector<RootEvent>& events) {
        const Geometries screens = monitors();
        std::vector<xcb_window_t> found;
        for (const RootEvent& event : events) {
            if (event.kind == RootEvent::Made && event.overrideRedirect &&
                std::ranges::find(screens, event.at) != screens.end()) {
                found.push_back(event.window);
            }
        }
        return found;
    }
    // Where in `events` the first change of `kind` to `window` is; events.size() if none.
    static std::size_t at(const std::vector<RootEvent>& events, RootEvent::Kind kind,
                          xcb_window_t window) {
        return std::size_t(
            std::ranges::find_if(
                events, [&](const RootEvent& e) { return e.kind == kind && e.window == window; }) -
            events.begin());
    }
};

TEST_P(EarlyDesktopTest, EachStartShowsTheLastLookUntilTheOverlaysAreOnScreen) {
    startDesktop(!GetParam());
    listenToRoot();
    // The first start has no look to show; it keeps its overlays' look for the next.
    ASSERT_TRUE(launch());
    EXPECT_TRUE(standIns(rootEvents()).empty());
    const auto look = dir_ / ".cache" / "vellumor" / "desktop-look";
    EXPECT_TRUE(waitUntil([&] { return fileText(look) == kGreyLook; })) << fileText(look);

    // Started again while it runs, it shows nothing before it ends.
    ASSERT_TRUE(launchVellumor()->waitForExit(10s).has_value());
    EXPECT_TRUE(standIns(rootEvents()).empty());
    vellumor_.reset();

    // With the look kept, and with one another run left behind: the stand-ins are made before
    // the overlays, put at the bottom before they show, and go only once each overlay is mapped;
    // the screen ends in the stored colour, whose look is kept again.
    // A window of another program is open, beside the monitors, where the screen's checks do
    // not look and no manager moves it: the stand-ins go below it.
    const xcb_window_t other = xcb_generate_id(c_);
    const std::uint32_t unmanaged = 1;
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, other, root(), 3300, 100, 200, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      &unmanaged);
    xcb_map_window(c_, other);
    for (const char* kept : {kGreyLook, kRedLook}) {
        std::ofstream(look) << kept;
        rootEvents();
        ASSERT_TRUE(launch()) << kept;
        std::vector<RootEvent> events;
        std::vector<xcb_window_t> early;
        ASSERT_TRUE(waitUntil([&] {
            std::ranges::copy(rootEvents(), std::back_inserter(events));
            early = standIns(events);
            return early.size() == monitors().size() &&
                   std::ranges::all_of(early, [&](xcb_window_t w) {
                       return at(events, RootEvent::Gone, w) < events.size();
                   });
        })) << kept
            << ": " << early.size() << " stand-ins, not all gone";
        const auto overlays = shown(kOverlay);
        ASSERT_EQ(overlays.size(), early.size());
        for (const xcb_window_t standIn : early) {
            EXPECT_LT(at(events, RootEvent::PutAtBottom, standIn),
                      at(events, RootEvent::Mapped, standIn));
            EXPECT_LT(at(events, RootEvent::Mapped, standIn), events.size());
            for (const xcb_window_t overlay : overlays) {
                EXPECT_LT(at(events, RootEvent::Made, standIn),
                          at(events, RootEvent::Made, overlay));
                EXPECT_LT(at(events, RootEvent::Mapped, topLevel(overlay)),
                          at(events, RootEvent::Gone, standIn))
                    << kept << ": a stand-in went before an overlay was on screen";
            }
        }
        EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); })) << kept;
        EXPECT_TRUE(waitUntil([&] { return fileText(look) == kGreyLook; })) << kept;
        vellumor_.reset();
    }
}

INSTANTIATE_TEST_SUITE_P(Sessions, EarlyDesktopTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& session) {
                             return session.param ? "openbox" : "none";
                         });

}  // namespace
}  // namespace vellumor::x11test
