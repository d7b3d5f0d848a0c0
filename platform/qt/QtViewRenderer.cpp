#include "platform/qt/QtViewRenderer.h"

#include <QBoxLayout>
#include <QColor>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QSvgRenderer>
#include <QWidgetItem>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt/QtConversions.h"
#include "platform/qt/QtImages.h"

namespace platform::qt {

namespace {

// The look of a visual-effect view's surface: the platform's dark HUD material, translucent
// where a compositor blends windows and solid where none does.
QColor effectSurfaceColor(bool translucent) {
    return translucent ? QColor(28, 28, 30, 224) : QColor(40, 40, 42);
}

// What ties a view to its superview and fixes its size.
struct Ties {
    bool centerX = false;
    bool centerY = false;
    bool left = false;
    bool right = false;
    bool top = false;
    bool bottom = false;
    bool width = false;
    bool height = false;
    std::optional<double> fixedWidth;
    std::optional<double> fixedHeight;

    void tie(NSLayoutAttribute attribute) {
        switch (attribute) {
            case NSLayoutAttribute::CenterX:
                centerX = true;
                break;
            case NSLayoutAttribute::CenterY:
                centerY = true;
                break;
            // Left-to-right text: leading is left and trailing is right.
            case NSLayoutAttribute::Left:
            case NSLayoutAttribute::Leading:
                left = true;
                break;
            case NSLayoutAttribute::Right:
            case NSLayoutAttribute::Trailing:
                right = true;
                break;
            case NSLayoutAttribute::Top:
                top = true;
                break;
            case NSLayoutAttribute::Bottom:
                bottom = true;
                break;
            case NSLayoutAttribute::Width:
                width = true;
                break;
            case NSLayoutAttribute::Height:
                height = true;
                break;
            case NSLayoutAttribute::NotAnAttribute:
                break;
        }
    }
};

Ties tiesOf(const View& view) {
    Ties ties;
    const View* superview = view.superview();
    for (const auto& constraint : view.constraints()) {
        if (constraint->secondItem() == nullptr) {
            if (constraint->firstAttribute() == NSLayoutAttribute::Width) {
                ties.fixedWidth = constraint->constant();
            } else if (constraint->firstAttribute() == NSLayoutAttribute::Height) {
                ties.fixedHeight = constraint->constant();
            }
        } else if (constraint->secondItem() == superview &&
                   constraint->firstAttribute() == constraint->secondAttribute()) {
            ties.tie(constraint->firstAttribute());
        }
    }
    if (superview != nullptr) {
        for (const auto& constraint : superview->constraints()) {
            if (constraint->secondItem() == &view &&
                constraint->firstAttribute() == constraint->secondAttribute()) {
                ties.tie(constraint->firstAttribute());
            }
        }
    }
    return ties;
}

int pixels(double points) {
    return static_cast<int>(std::lround(points));
}

// Where `subview` goes inside its superview's widget area `container` (y down), given the size
// its widget would like (`preferred`). A view placed by constraints follows those that tie it
// to its superview (centres, edges, width, height) and its own constant width and height;
// one placed by its autoresizing mask keeps its frame (y flipped: the platform's views are
// y-up), growing with the superview where the mask says so.
QRect subviewRect(const View& subview, const QSize& preferred, const QRect& container) {
    const Ties ties = tiesOf(subview);
    const Rect frame = subview.frame();
    const View* superview = subview.superview();
    const double containerWidth = container.width();
    const double containerHeight = container.height();
    const Rect superFrame =
        superview != nullptr ? superview->frame() : Rect{0.0, 0.0, containerWidth, containerHeight};
    const bool byMask = subview.translatesAutoresizingMaskIntoConstraints();
    const auto mask = subview.autoresizingMask();

    double width = preferred.width();
    if (ties.fixedWidth) {
        width = *ties.fixedWidth;
    } else if (ties.width || (ties.left && ties.right)) {
        width = containerWidth;
    } else if (byMask) {
        width = frame.width +
                ((mask & NSViewWidthSizable) != 0 ? containerWidth - superFrame.width : 0.0);
    }
    double height = preferred.height();
    if (ties.fixedHeight) {
        height = *ties.fixedHeight;
    } else if (ties.height || (ties.top && ties.bottom)) {
        height = containerHeight;
    } else if (byMask) {
        height = frame.height +
                 ((mask & NSViewHeightSizable) != 0 ? containerHeight - superFrame.height : 0.0);
    }

    double x = 0.0;
    if (ties.centerX) {
        x = (containerWidth - width) / 2.0;
    } else if (ties.right && !ties.left) {
        x = containerWidth - width;
    } else if (!ties.left && byMask) {
        x = frame.x;
    }
    double y = 0.0;
    if (ties.centerY) {
        y = (containerHeight - height) / 2.0;
    } else if (ties.bottom && !ties.top) {
        y = containerHeight - height;
    } else if (!ties.top && byMask) {
        // The platform's views are y-up: the distance to the superview's bottom stays.
        y = containerHeight - (frame.y + height);
    }
    return {container.x() + pixels(x), container.y() + pixels(y), pixels(width), pixels(height)};
}

// Places each subview's widget by subviewRect.
class SubviewLayout final : public QLayout {
public:
    explicit SubviewLayout(QWidget* parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }
    ~SubviewLayout() override {
        for (auto& entry : entries_) {
            delete entry.first;
        }
    }

    void addView(QWidget* widget, const View* view) {
        addChildWidget(widget);
        entries_.emplace_back(new QWidgetItem(widget), view);
        invalidate();
    }

    void addItem(QLayoutItem* item) override { entries_.emplace_back(item, nullptr); }
    int count() const override { return static_cast<int>(entries_.size()); }
    QLayoutItem* itemAt(int index) const override {
        return index >= 0 && index < count() ? entries_[static_cast<std::size_t>(index)].first
                                             : nullptr;
    }
    QLayoutItem* takeAt(int index) override {
        if (index < 0 || index >= count()) {
            return nullptr;
        }
        QLayoutItem* item = entries_[static_cast<std::size_t>(index)].first;
        entries_.erase(entries_.begin() + index);
        return item;
    }
    QSize sizeHint() const override {
        QSize size;
        for (const auto& entry : entries_) {
            size = size.expandedTo(entry.first->sizeHint());
        }
        return size;
    }
    QSize minimumSize() const override { return sizeHint(); }
    void setGeometry(const QRect& rect) override {
        QLayout::setGeometry(rect);
        for (const auto& [item, view] : entries_) {
            item->setGeometry(view != nullptr ? subviewRect(*view, item->sizeHint(), rect) : rect);
        }
    }

private:
    std::vector<std::pair<QLayoutItem*, const View*>> entries_;
};

// A visual-effect view's surface.
class EffectWidget final : public QWidget {
public:
    EffectWidget(QWidget* parent, bool translucent) : QWidget(parent), translucent_(translucent) {}

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        // Source, not source-over: the surface's own opacity is what the compositor blends.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), effectSurfaceColor(translucent_));
    }

private:
    bool translucent_;
};

// An image view: draws its image fitted into its bounds, or nothing while it has none.
class ImageWidget final : public QWidget {
public:
    ImageWidget(QWidget* parent, std::string name, NSImageScaling scaling, QColor tint)
        : QWidget(parent), name_(std::move(name)), scaling_(scaling), tint_(tint) {}

    QSize sizeHint() const override {
        const QByteArray svg = imageSvg(name_, tint_);
        return svg.isEmpty() ? QSize(0, 0) : QSvgRenderer(svg).defaultSize();
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        drawImage(painter, name_, QRectF(rect()), scaling_, tint_);
    }

private:
    std::string name_;
    NSImageScaling scaling_;
    QColor tint_;
};

Qt::Alignment stackAlignment(const StackView& stack) {
    const bool vertical =
        stack.orientation() ==
        NSUserInterfaceLayoutOrientation::NSUserInterfaceLayoutOrientationVertical;
    switch (stack.alignment()) {
        case NSLayoutAttribute::CenterX:
            return vertical ? Qt::AlignHCenter : Qt::Alignment();
        case NSLayoutAttribute::Left:
        case NSLayoutAttribute::Leading:
            return vertical ? Qt::AlignLeft : Qt::Alignment();
        case NSLayoutAttribute::Right:
        case NSLayoutAttribute::Trailing:
            return vertical ? Qt::AlignRight : Qt::Alignment();
        case NSLayoutAttribute::CenterY:
            return vertical ? Qt::Alignment() : Qt::AlignVCenter;
        case NSLayoutAttribute::Top:
            return vertical ? Qt::Alignment() : Qt::AlignTop;
        case NSLayoutAttribute::Bottom:
            return vertical ? Qt::Alignment() : Qt::AlignBottom;
        default:
            return {};
    }
}

struct Surface {
    bool translucent = false;
    // Inside a visual-effect view, whose material is dark.
    bool dark = false;
};

QWidget* build(const View& view, QWidget* parent, Surface surface);

void buildSubviews(const View& view, QWidget& widget, Surface surface) {
    if (view.subviews().empty()) {
        return;
    }
    auto* layout = new SubviewLayout(&widget);
    for (const auto& subview : view.subviews()) {
        layout->addView(build(*subview, &widget, surface), subview.get());
    }
}

QWidget* build(const View& view, QWidget* parent, Surface surface) {
    QWidget* widget = nullptr;
    if (dynamic_cast<const VisualEffectView*>(&view) != nullptr) {
        widget = new EffectWidget(parent, surface.translucent);
        surface.dark = true;
        buildSubviews(view, *widget, surface);
    } else if (const auto* stack = dynamic_cast<const StackView*>(&view)) {
        widget = new QWidget(parent);
        const bool vertical =
            stack->orientation() ==
            NSUserInterfaceLayoutOrientation::NSUserInterfaceLayoutOrientationVertical;
        auto* layout =
            new QBoxLayout(vertical ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight, widget);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(pixels(stack->spacing()));
        for (View* arranged : stack->arrangedSubviews()) {
            layout->addWidget(build(*arranged, widget, surface), 0, stackAlignment(*stack));
        }
    } else if (const auto* imageView = dynamic_cast<const ImageView*>(&view)) {
        const auto& image = imageView->image();
        auto* imageWidget = new ImageWidget(parent, image ? image->name() : std::string(),
                                            imageView->imageScaling(),
                                            viewColor(Color::labelColor(), surface.dark));
        if (image) {
            imageWidget->setAccessibleName(
                QString::fromStdString(image->accessibilityDescription()));
        }
        widget = imageWidget;
    } else if (const auto* field = dynamic_cast<const TextField*>(&view)) {
        auto* label = new QLabel(QString::fromStdString(field->stringValue()), parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        QFont font = label->font();
        // The platform's points are device-independent pixels, as its frames are; Qt's points
        // would grow with the display's dpi and no longer fit the window they were sized for.
        font.setPixelSize(std::max(1, pixels(field->font().pointSize)));
        font.setWeight(fontWeight(field->font().weight));
        label->setFont(font);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, viewColor(field->textColor(), surface.dark));
        label->setPalette(palette);
        widget = label;
    } else {
        widget = new QWidget(parent);
        buildSubviews(view, *widget, surface);
    }

    const Ties ties = tiesOf(view);
    if (ties.fixedWidth) {
        widget->setFixedWidth(pixels(*ties.fixedWidth));
    }
    if (ties.fixedHeight) {
        widget->setFixedHeight(pixels(*ties.fixedHeight));
    }
    return widget;
}

}  // namespace

void QtViewRenderer::render(const View& root, QWidget& host, bool translucent) {
    delete host.layout();
    for (QWidget* child : host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        delete child;
    }
    auto* layout = new SubviewLayout(&host);
    // The root fills the host whatever its frame says: a window's content view always covers
    // its content area, and the frame it was given is in X11 pixels, not in the points the
    // widgets are laid out in.
    layout->addView(build(root, &host, {translucent, false}), nullptr);
}

}  // namespace platform::qt
