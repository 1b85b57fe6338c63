#pragma once
#include <QPixmap>

namespace qv::app {

// The program's picture: a page going into a package, at any size.
QPixmap ProgramPicture(int size);
// The wizard's side picture, 164 by 316.
QPixmap WizardSidePicture();

} // namespace qv::app
