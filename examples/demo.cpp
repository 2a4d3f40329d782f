// The demo: what the library knows of itself.
#include <tqstore/tqstore.h>

#include <cstdio>

int main() {
    std::printf("Tessaro runtime (tqstore)\n");
    return 0;
}
