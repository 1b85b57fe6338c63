#include "Viewer.h"

int main(int argc, char** argv)
{
    return qv::view::RunViewer(argc, argv, {qv::view::WidgetDialogs(), qv::view::DesktopShell()});
}
