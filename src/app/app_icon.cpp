#include "app/app_icon.h"

#include <QString>

// The resources live in a static library, whose registration the linker may drop unless
// it is referenced; Q_INIT_RESOURCE must be used outside any namespace.
static void InitIconResources() {
  Q_INIT_RESOURCE(quaderix);
}

namespace quaderix {

QIcon AppIcon() {
  static const bool initialised = (InitIconResources(), true);
  (void)initialised;
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    icon.addFile(QStringLiteral(":/icons/quaderix_%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace quaderix
