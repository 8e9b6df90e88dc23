#pragma once

// The product picture, drawn in code.

#include <QImage>
#include <QPixmap>

namespace kestra::gui {

// The product picture: a kestrel hovering against the sky, drawn in code.
QPixmap KestrelPicture(int width, int height);

// The same bird on a square of sky, for the desktop's icon theme. Needs no
// running application, so a build step can render it.
QImage KestrelIcon(int size);

}  // namespace kestra::gui
