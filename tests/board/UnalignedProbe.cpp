// The emulated board's control for its unaligned-access count: one float
// loaded and one stored through a pointer at an odd address, with the FPU's
// own instructions (lwc1, swc1). A CPU that traps them makes the kernel fix
// each up and count it; a count that never moves proves nothing.
// Prints the value read back: 1.5 when the fix-ups did their work.
#include <cstdio>

namespace {

// Kept apart from their caller (no inlining, no interprocedural changes), so
// that the compiler cannot see the odd address and split the access into
// lwl/lwr or byte moves.
__attribute__((noipa)) float LoadThrough(const float* where) { return *where; }

__attribute__((noipa)) void StoreTripled(float* where, float value) { *where = value * 3.0f; }

}  // namespace

int main(int argc, char**)
{
    alignas(4) unsigned char bytes[12] = {};
    // argc is 1: the pointer is odd, and only at run time.
    auto* odd = reinterpret_cast<float*>(bytes + argc);
    StoreTripled(odd, 0.5f);
    std::printf("%g\n", static_cast<double>(LoadThrough(odd)));
    return 0;
}
