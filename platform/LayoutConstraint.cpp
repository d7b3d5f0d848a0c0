#include "platform/LayoutConstraint.h"

#include "platform/View.h"

namespace platform {

void LayoutConstraint::activateConstraints(
    const std::vector<std::shared_ptr<LayoutConstraint>>& constraints) {
    static int batches = 0;
    const int batch = ++batches;
    for (const auto& constraint : constraints) {
        if (constraint->active_) {
            continue;
        }
        constraint->active_ = true;
        constraint->batch_ = batch;
        constraint->firstItem_->constraints_.push_back(constraint);
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
