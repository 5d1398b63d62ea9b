// Crashes at once: a write into the never-mapped first page.
#include <cstdint>

// Read at run time, so the compiler cannot see where the write goes.
volatile uintptr_t nowhere = 0x10;

int main() {
    *reinterpret_cast<volatile int*>(nowhere) = 1;
    return 0;
}
