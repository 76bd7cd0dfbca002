#include <QIcon>

#include "platform/icons.h"
#include "platform/window_registry.h"

namespace fyrel::platform_detail {

QIcon iconFor(int iconNumber)
{
    static const QIcon program = [] {
        QIcon icon;
        for (int size : {16, 32, 48, 64, 128, 256}) {
            icon.addFile(QStringLiteral(":/fyrel/icons/fyrel-%1.png").arg(size), QSize(size, size));
        }
        return icon;
    }();
    // Both the large and the small icon are sizes of the one program icon.
    (void)iconNumber;
    return program;
}

}  // namespace fyrel::platform_detail
