#pragma once

// The program's icon, a cube of eight unit cubes, used for the window, the About box and
// the desktop entry. The PNG sizes in resources/ are rendered from quaderix.svg
// (rsvg-convert -w N -h N) so that no SVG support is needed at run time. GUI thread only.

#include <QIcon>

namespace quaderix {

QIcon AppIcon();

}  // namespace quaderix
