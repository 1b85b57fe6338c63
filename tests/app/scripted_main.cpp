// The program's own entry sequence with its boxes answered by a script
// instead of a person, for the runs whose failures would wait for one:
// every box is answered with its default and its text goes to stderr.
#include "ScriptedDialogs.h"
#include "builder.h"

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs->onAsked = [](const ScriptedDialogs::Asked& a) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(a.kind), qPrintable(a.text));
    };
    qv::app::SetDialogService(std::move(dialogs));
    return qv::app::Builder(argc, argv);
}
