// quorvanec: builds projects and inspects outputs without a display.
#include "Cli.h"

int main(int argc, char** argv)
{
    return qvc::Run(argc, argv);
}
