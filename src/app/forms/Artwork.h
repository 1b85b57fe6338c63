#pragma once
#include <QIcon>
#include <QPixmap>

namespace qv::app {

// The program's pictures, kept as files in art/app.

// The pictures of the toolbar (24 by 24) and the menu (16 by 16), one file
// for each size, so every size stays sharp.
enum class Picture { New, Open, Save, Options, Build, Check, Run, Help, Home };

QIcon CommandPicture(Picture picture);
// The program's picture: a page going into a package, 128 by 128.
QPixmap ProgramPicture();
// The wizard's side picture, 164 by 316.
QPixmap WizardSidePicture();

} // namespace qv::app
