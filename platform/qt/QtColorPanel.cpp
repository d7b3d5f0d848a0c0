#include "platform/qt/QtColorPanel.h"

#include <QSignalBlocker>

#include "platform/ColorPanel.h"
#include "platform/qt/QtConversions.h"
#include "platform/qt/QtPlatform.h"

namespace platform::qt {

QtColorPanel::QtColorPanel(QtPlatform& platform, ColorPanel& panel)
    : platform_(platform), dialog_(std::make_unique<QColorDialog>()) {
    // Qt's own dialog: a platform theme would otherwise put a GTK dialog in its place, which
    // reports no colour until it is closed. No opacity control, as the platform's panel shows
    // none by default.
    dialog_->setOptions(QColorDialog::DontUseNativeDialog | QColorDialog::NoButtons);
    dialog_->setWindowTitle(QStringLiteral("Colors"));
    dialog_->setModal(false);
    QObject::connect(dialog_.get(), &QColorDialog::currentColorChanged, dialog_.get(),
                     [&panel](const QColor& color) {
                         // Opaque, like every colour the dialog can show.
                         panel.userDidPickColor(Color::colorWithDeviceRed(
                             static_cast<double>(color.redF()), static_cast<double>(color.greenF()),
                             static_cast<double>(color.blueF()), 1.0));
                     });
}

void QtColorPanel::setColor(const Color& color) {
    const QSignalBlocker quiet(dialog_.get());
    // Without its opacity control the dialog drops the alpha of a translucent colour (one
    // stored on a Mac), and shows the opaque colour the overlays draw.
    dialog_->setCurrentColor(toQColor(color));
}

void QtColorPanel::orderFront() {
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
    platform_.widgetShown(dialog_.get());
}

bool QtColorPanel::isVisible() const {
    return dialog_->isVisible();
}

}  // namespace platform::qt
