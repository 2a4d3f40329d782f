// A program outside the tree, built against the installed package.
#include <tqstore/tqstore.h>

#include <cstdio>

int main() {
    std::printf("Tessaro runtime (tqstore)\n");
    return 0;
}
