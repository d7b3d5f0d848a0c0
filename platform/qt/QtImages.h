#pragma once

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QRectF>

#include <string>

#include "platform/View.h"

namespace platform::qt {

// The name under which the backend hands out the program's own icon.
inline constexpr char kAppIconName[] = "org.vellumor.Vellumor";

// Whether the platform ships a symbol image of this name. It ships its own drawings of the
// symbols the program asks for, and no others.
bool isSystemSymbol(const std::string& name);

// The SVG document of the named image (a symbol drawn in `tint`, or the program's icon), or
// an empty array for a name the backend cannot draw.
QByteArray imageSvg(const std::string& name, const QColor& tint);

// Draws the named image into `bounds`, fitted by `scaling`; symbols in `tint`. Draws nothing
// for a name the backend cannot draw.
void drawImage(QPainter& painter, const std::string& name, const QRectF& bounds,
               NSImageScaling scaling, const QColor& tint);

// The named image as an icon at the sizes trays and title bars ask for; symbols are drawn in a
// grey that stands out at least 3:1 from light and dark panels alike.
QIcon iconForImage(const std::string& name);

// The program's icon as installed in the icon theme (generated from data/ at build time).
QByteArray appIconSvg();

}  // namespace platform::qt
