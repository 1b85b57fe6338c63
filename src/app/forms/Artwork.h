#pragma once
#include <QIcon>

namespace qv::app {

// The pictures of the toolbar (24 by 24) and the menu (16 by 16), drawn
// from one outline each so both sizes stay sharp.
enum class Picture { New, Open, Save, Options, Build, Check, Run, Help, Home };

QIcon CommandPicture(Picture picture);

} // namespace qv::app
