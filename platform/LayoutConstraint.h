#pragma once

#include <memory>
#include <vector>

namespace platform {

class View;

// The part of a view's layout a constraint ties (NSLayoutAttribute).
enum class NSLayoutAttribute : std::int64_t {
    NotAnAttribute = 0,
    Left = 1,
    Right = 2,
    Top = 3,
    Bottom = 4,
    Leading = 5,
    Trailing = 6,
    Width = 7,
    Height = 8,
    CenterX = 9,
    CenterY = 10,
};

class LayoutAnchor;

// One equality between two anchors, or between an anchor and a constant
// (NSLayoutConstraint). It takes effect only once activated.
class LayoutConstraint final {
public:
    // Makes every constraint of `constraints` take effect together; each is held by the view
    // it constrains first.
    static void activateConstraints(
        const std::vector<std::shared_ptr<LayoutConstraint>>& constraints);

    View* firstItem() const { return firstItem_; }
    NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
    // The second view, or null for a constraint to a constant.
    View* secondItem() const { return secondItem_; }
    NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
    double constant() const { return constant_; }
    bool isActive() const { return active_; }
    // The number of the activateConstraints call that made it take effect (from 1), so that
    // the batches stay visible after the fact.
    int activationBatch() const { return batch_; }

private:
    friend class LayoutAnchor;
    LayoutConstraint(View* first, NSLayoutAttribute firstAttribute, View* second,
                     NSLayoutAttribute secondAttribute, double constant)
        : firstItem_(first),
          firstAttribute_(firstAttribute),
          secondItem_(second),
          secondAttribute_(secondAttribute),
          constant_(constant) {}

    View* firstItem_;
    NSLayoutAttribute firstAttribute_;
    View* secondItem_;
    NSLayoutAttribute secondAttribute_;
    double constant_;
    bool active_ = false;
    int batch_ = 0;
};

// One attribute of one view that constraints are made from (NSLayoutAnchor).
class LayoutAnchor final {
public:
    LayoutAnchor(View* view, NSLayoutAttribute attribute) : view_(view), attribute_(attribute) {}
    // A new, inactive constraint: this anchor equals `other`.
    std::shared_ptr<LayoutConstraint> constraintEqualToAnchor(const LayoutAnchor& other) const;
    // A new, inactive constraint: this anchor (a width or height) equals `constant` points.
    std::shared_ptr<LayoutConstraint> constraintEqualToConstant(double constant) const;

private:
    View* view_;
    NSLayoutAttribute attribute_;
};

}  // namespace platform
