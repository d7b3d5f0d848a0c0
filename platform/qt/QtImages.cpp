#include "platform/qt/QtImages.h"

#include <QImage>
#include <QPixmap>
#include <QSizeF>
#include <QSvgRenderer>

#include <algorithm>
#include <array>

namespace platform::qt {

namespace {

// The platform's own drawings of the symbols, on a 24-unit grid. FILL and STROKE are
// replaced by the colours they are drawn in.
//
// Two overlapping filled squares: the front one whole, the back one cut back around it so
// that a gap of the background separates the two.
constexpr char kSquareOnSquare[] =
    R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">
<g fill="FILL" stroke="STROKE" stroke-width="1" stroke-linejoin="round">
<path d="M11 2 H19 Q22 2 22 5 V13 Q22 16 19 16 H18 V6 H8 V5 Q8 2 11 2 Z"/>
<rect x="2" y="8" width="14" height="14" rx="3"/>
</g>
</svg>)svg";

// A rounded filled square: an application's tile.
constexpr char kAppTile[] =
    R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">
<rect x="3" y="3" width="18" height="18" rx="4.5" fill="FILL" stroke="STROKE" stroke-width="1"/>
</svg>)svg";

struct Symbol {
    const char* name;
    const char* svg;
};
constexpr std::array<Symbol, 2> kSymbols{{
    {"square.fill.on.square.fill", kSquareOnSquare},
    {"app.fill", kAppTile},
}};

// A grey midway in luminance between light panels (#DCDAD5: 3.2:1) and dark ones (#2B2B2B:
// 3.16:1), the most a single colour can stand out from both; a light fill with a dark edge
// shows on a light panel as a thin outline only.
const QColor kPanelNeutralGrey(0x77, 0x77, 0x77);

const Symbol* findSymbol(const std::string& name) {
    const auto found = std::find_if(kSymbols.begin(), kSymbols.end(),
                                    [&](const Symbol& symbol) { return name == symbol.name; });
    return found == kSymbols.end() ? nullptr : &*found;
}

QByteArray tinted(const char* svg, const QColor& fill, const QColor& stroke) {
    QByteArray document(svg);
    // name="none" for a clear colour, else name="#rrggbb" name-opacity="alpha".
    const auto paint = [&document](const QByteArray& name, const QByteArray& placeholder,
                                   const QColor& color) {
        const QByteArray value = color.alpha() == 0
                                     ? QByteArray("none")
                                     : color.name(QColor::HexRgb).toLatin1() + "\" " + name +
                                           "-opacity=\"" + QByteArray::number(color.alphaF());
        document.replace(name + "=\"" + placeholder + "\"", name + "=\"" + value + "\"");
    };
    paint("fill", "FILL", fill);
    paint("stroke", "STROKE", stroke);
    return document;
}

// Where an image of `natural` size goes inside `bounds` when fitted by `scaling`, centred.
QRectF fittedRect(const QSizeF& natural, const QRectF& bounds, NSImageScaling scaling) {
    if (natural.isEmpty() || bounds.isEmpty()) {
        return {};
    }
    QSizeF size = natural;
    switch (scaling) {
        case NSImageScaling::NSImageScaleAxesIndependently:
            size = bounds.size();
            break;
        case NSImageScaling::NSImageScaleNone:
            break;
        case NSImageScaling::NSImageScaleProportionallyDown:
            if (natural.width() > bounds.width() || natural.height() > bounds.height()) {
                size = natural.scaled(bounds.size(), Qt::KeepAspectRatio);
            }
            break;
        case NSImageScaling::NSImageScaleProportionallyUpOrDown:
            size = natural.scaled(bounds.size(), Qt::KeepAspectRatio);
            break;
    }
    QRectF placed(QPointF(), size);
    placed.moveCenter(bounds.center());
    return placed;
}

}  // namespace

bool isSystemSymbol(const std::string& name) {
    return findSymbol(name) != nullptr;
}

QByteArray imageSvg(const std::string& name, const QColor& tint) {
    if (const Symbol* symbol = findSymbol(name)) {
        return tinted(symbol->svg, tint, Qt::transparent);
    }
    if (name == kAppIconName) {
        return appIconSvg();
    }
    return {};
}

void drawImage(QPainter& painter, const std::string& name, const QRectF& bounds,
               NSImageScaling scaling, const QColor& tint) {
    const QByteArray svg = imageSvg(name, tint);
    if (svg.isEmpty()) {
        return;
    }
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) {
        return;
    }
    const QRectF target = fittedRect(QSizeF(renderer.defaultSize()), bounds, scaling);
    if (!target.isEmpty()) {
        renderer.render(&painter, target);
    }
}

QIcon iconForImage(const std::string& name) {
    QByteArray svg;
    if (const Symbol* symbol = findSymbol(name)) {
        svg = tinted(symbol->svg, kPanelNeutralGrey, Qt::transparent);
    } else {
        svg = imageSvg(name, Qt::white);
    }
    QIcon icon;
    QSvgRenderer renderer(svg);
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        if (renderer.isValid()) {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter, QRectF(0, 0, side, side));
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

}  // namespace platform::qt
