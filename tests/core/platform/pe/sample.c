/* A tiny console program whose only purpose is to carry resources. */
#include <stdio.h>

int main(void)
{
    puts("sample");
    return 0;
}
