#include "platform/LayoutConstraint.h"

#include <algorithm>

#include "platform/PlatformIntegration.h"
#include "platform/View.h"

namespace platform {

void LayoutConstraint::activateConstraints(
    const std::vector<std::shared_ptr<LayoutConstraint>>& constraints) {
    static int batches = 0;
    const int batch = ++batches;
    std::vector<Window*> windows;
    for (const auto& constraint : constraints) {
        if (constraint->active_) {
            continue;
        }
        constraint->active_ = true;
        constraint->batch_ = batch;
        constraint->firstItem_->constraints_.push_back(constraint);
        Window* owner = constraint->firstItem_->window();
        if (owner != nullptr && std::find(windows.begin(), windows.end(), owner) == windows.end()) {
            windows.push_back(owner);
        }
    }
    // The batch takes effect together, so each window hears of it once.
    for (Window* owner : windows) {
        owner->platformWindow().contentTreeChanged();
    }
}

std::shared_ptr<LayoutConstraint> LayoutAnchor::constraintEqualToAnchor(
    const LayoutAnchor& other) const {
    return std::shared_ptr<LayoutConstraint>(
        new LayoutConstraint(view_, attribute_, other.view_, other.attribute_, 0.0));
}

std::shared_ptr<LayoutConstraint> LayoutAnchor::constraintEqualToConstant(double constant) const {
    return std::shared_ptr<LayoutConstraint>(new LayoutConstraint(
        view_, attribute_, nullptr, NSLayoutAttribute::NotAnAttribute, constant));
}

}  // namespace platform
