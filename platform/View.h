#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/LayoutConstraint.h"
#include "platform/Object.h"

namespace platform {

class Window;

// How a view follows its superview's size (NSAutoresizingMaskOptions).
enum NSAutoresizingMaskOptions : std::uint64_t {
    NSViewNotSizable = 0,
    NSViewMinXMargin = 1,
    NSViewWidthSizable = 2,
    NSViewMaxXMargin = 4,
    NSViewMinYMargin = 8,
    NSViewHeightSizable = 16,
    NSViewMaxYMargin = 32,
};

// A rectangle of a window's content (NSView). Views form a tree that the window owns; the
// backend draws the tree of a window when the window is shown.
class View : public Object {
public:
    View();
    explicit View(Rect frame);
    ~View() override;

    // Adds `view` as the last subview, drawn inside this one; this view owns it.
    void addSubview(std::unique_ptr<View> view);
    // The subviews, back to front.
    const std::vector<std::unique_ptr<View>>& subviews() const { return subviews_; }
    // The view this one is drawn inside, or null.
    View* superview() const { return superview_; }
    // The window whose content tree the view is in, or null.
    Window* window() const;

    // The view's rectangle in its superview's coordinates.
    Rect frame() const { return frame_; }
    void setFrame(Rect frame) { frame_ = frame; }
    // Whether the autoresizing mask is turned into constraints (true) or the view is placed
    // by the constraints given to it alone (false).
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates);
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
    // How the view follows its superview's size.
    void setAutoresizingMask(std::uint64_t mask) { autoresizingMask_ = mask; }
    std::uint64_t autoresizingMask() const { return autoresizingMask_; }

    // The anchors that constraints are made from.
    LayoutAnchor centerXAnchor() { return {this, NSLayoutAttribute::CenterX}; }
    LayoutAnchor centerYAnchor() { return {this, NSLayoutAttribute::CenterY}; }
    LayoutAnchor widthAnchor() { return {this, NSLayoutAttribute::Width}; }
    LayoutAnchor heightAnchor() { return {this, NSLayoutAttribute::Height}; }

    // The active constraints held by this view (those whose first item it is).
    const std::vector<std::shared_ptr<LayoutConstraint>>& constraints() const {
        return constraints_;
    }

private:
    friend class LayoutConstraint;
    friend class Window;
    std::vector<std::unique_ptr<View>> subviews_;
    View* superview_ = nullptr;
    // Set on a window's content view only.
    Window* window_ = nullptr;
    Rect frame_;
    bool translatesMask_ = true;
    std::uint64_t autoresizingMask_ = NSViewNotSizable;
    std::vector<std::shared_ptr<LayoutConstraint>> constraints_;
};

// The look of a visual-effect view's translucent background (NSVisualEffectMaterial).
enum class NSVisualEffectMaterial : std::int64_t {
    NSVisualEffectMaterialTitlebar = 3,
    NSVisualEffectMaterialMenu = 5,
    NSVisualEffectMaterialPopover = 6,
    NSVisualEffectMaterialSidebar = 7,
    NSVisualEffectMaterialHUDWindow = 13,
    NSVisualEffectMaterialWindowBackground = 12,
};

// When a visual-effect view looks active (NSVisualEffectState).
enum class NSVisualEffectState : std::int64_t {
    NSVisualEffectStateFollowsWindowActiveState = 0,
    NSVisualEffectStateActive = 1,
    NSVisualEffectStateInactive = 2,
};

// A view with a translucent, blurred background (NSVisualEffectView).
class VisualEffectView final : public View {
public:
    explicit VisualEffectView(Rect frame) : View(frame) {}
    // Sets the look of the background.
    void setMaterial(NSVisualEffectMaterial material) { material_ = material; }
    NSVisualEffectMaterial material() const { return material_; }
    // Sets whether the background looks active always, never, or as its window does.
    void setState(NSVisualEffectState state) { state_ = state; }
    NSVisualEffectState state() const { return state_; }

private:
    NSVisualEffectMaterial material_ =
        NSVisualEffectMaterial::NSVisualEffectMaterialWindowBackground;
    NSVisualEffectState state_ = NSVisualEffectState::NSVisualEffectStateFollowsWindowActiveState;
};

// The direction a stack lays its views out in (NSUserInterfaceLayoutOrientation).
enum class NSUserInterfaceLayoutOrientation : std::int64_t {
    NSUserInterfaceLayoutOrientationHorizontal = 0,
    NSUserInterfaceLayoutOrientationVertical = 1,
};

// A view that lays out its arranged views in a row or column (NSStackView). Its own size
// follows from its contents.
class StackView final : public View {
public:
    // Lays the arranged views out left to right (horizontal) or top to bottom (vertical).
    void setOrientation(NSUserInterfaceLayoutOrientation orientation) {
        orientation_ = orientation;
    }
    NSUserInterfaceLayoutOrientation orientation() const { return orientation_; }
    // Lines the arranged views up across the stack (CenterX: each centred horizontally).
    void setAlignment(NSLayoutAttribute alignment) { alignment_ = alignment; }
    NSLayoutAttribute alignment() const { return alignment_; }
    // The gap between neighbouring arranged views, in points.
    void setSpacing(double spacing) { spacing_ = spacing; }
    double spacing() const { return spacing_; }
    // Appends `view` to the arranged views (and to the subviews); the stack owns it.
    void addArrangedSubview(std::unique_ptr<View> view);
    // The arranged views in order.
    const std::vector<View*>& arrangedSubviews() const { return arranged_; }

private:
    NSUserInterfaceLayoutOrientation orientation_ =
        NSUserInterfaceLayoutOrientation::NSUserInterfaceLayoutOrientationHorizontal;
    NSLayoutAttribute alignment_ = NSLayoutAttribute::CenterY;
    double spacing_ = 8.0;
    std::vector<View*> arranged_;
};

// How an image view fits its image into its bounds (NSImageScaling).
enum class NSImageScaling : std::int64_t {
    NSImageScaleProportionallyDown = 0,
    NSImageScaleAxesIndependently = 1,
    NSImageScaleNone = 2,
    NSImageScaleProportionallyUpOrDown = 3,
};

// A view that shows one image (NSImageView).
class ImageView final : public View {
public:
    // Shows `image` (null: shows nothing and keeps its place).
    void setImage(std::shared_ptr<const Image> image) { image_ = std::move(image); }
    const std::shared_ptr<const Image>& image() const { return image_; }
    // Sets how the image is fitted into the view's bounds.
    void setImageScaling(NSImageScaling scaling) { scaling_ = scaling; }
    NSImageScaling imageScaling() const { return scaling_; }

private:
    std::shared_ptr<const Image> image_;
    NSImageScaling scaling_ = NSImageScaling::NSImageScaleProportionallyDown;
};

// Font weights (NSFontWeight), from thin (negative) to black (positive).
inline constexpr double NSFontWeightRegular = 0.0;
inline constexpr double NSFontWeightMedium = 0.23;
inline constexpr double NSFontWeightSemibold = 0.3;
inline constexpr double NSFontWeightBold = 0.4;

// A font (NSFont): the program uses only the system font.
struct Font {
    // The system font of `size` points at `weight`.
    static Font systemFontOfSize(double size, double weight) { return {size, weight}; }
    double pointSize = 13.0;
    double weight = NSFontWeightRegular;
    friend bool operator==(const Font&, const Font&) = default;
};

// A text field (NSTextField); the program uses it only as a static label.
class TextField final : public View {
public:
    // A static label showing `text` in the system font: not editable, not selectable, no
    // border, no background, no wrapping.
    static std::unique_ptr<TextField> labelWithString(const std::string& text);

    const std::string& stringValue() const { return text_; }
    // Draws the text in `font`.
    void setFont(const Font& font) { font_ = font; }
    const Font& font() const { return font_; }
    // Draws the text in `color`.
    void setTextColor(const Color& color) { textColor_ = color; }
    const Color& textColor() const { return textColor_; }
    bool isEditable() const { return editable_; }
    bool isSelectable() const { return selectable_; }
    bool isBezeled() const { return bezeled_; }
    bool drawsBackground() const { return drawsBackground_; }

private:
    explicit TextField(std::string text);
    std::string text_;
    Font font_;
    Color textColor_;
    bool editable_ = false;
    bool selectable_ = false;
    bool bezeled_ = false;
    bool drawsBackground_ = false;
};

}  // namespace platform
