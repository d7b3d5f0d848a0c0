#pragma once

#include "platform/Color.h"
#include "platform/Object.h"

namespace platform {

// The process's one colour panel (NSColorPanel): the system's colour picker.
class ColorPanel final : public Object {
public:
    // The shared panel: the same object at every request.
    static ColorPanel& sharedColorPanel();

    // Shows `color` as the panel's current choice; sends no action.
    void setColor(const Color& color);
    // The colour currently chosen in the panel.
    const Color& color() const { return color_; }
    // Aims the panel's action at `target` (not owned).
    void setTarget(Object* target);
    // The message sent, with the panel as argument, for each colour the user picks.
    void setAction(const Selector& action) { action_ = action; }
    // Shows the panel in front.
    void orderFront(Object* sender);

    // Called by the backend for each colour the user picks: makes it the panel's colour and
    // sends the action to the target.
    void userDidPickColor(const Color& color);

    ColorPanel();

private:
    Color color_;
    WeakObjectRef target_;
    Selector action_;
};

}  // namespace platform
