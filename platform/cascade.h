#pragma once

#include <QPoint>

class QMdiArea;
class QMdiSubWindow;

namespace fyrel::platform_detail {

// Where the next window of the client area opens, views and dialogs alike:
// the first at the top-left, each later one a caption's height further down
// and to the right, starting over at the top-left when it would leave the
// area.
QPoint cascadePosition(const QMdiArea& area, const QMdiSubWindow& opening);

}  // namespace fyrel::platform_detail
