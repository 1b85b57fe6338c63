#include "builder.h"

int main(int argc, char** argv)
{
    return qv::app::Builder(argc, argv);
}
