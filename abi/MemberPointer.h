#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

// Pointers to members as the Itanium C++ ABI lays them out, which GCC and
// Clang follow on x86-64 and MIPS alike:
//  - a pointer to a data member is the member's byte offset in the class;
//  - a pointer to a member function is {ptr, adj}. For a virtual function ptr
//    holds its byte offset in the virtual table and adj the this-adjustment,
//    with a flag bit that tells it from a plain function address. Where that
//    bit lies is the target's choice: in ptr (x86-64: ptr = 1 + offset) or,
//    where a function address may be odd (MIPS, ARM), in adj (adj = 2 * adj + 1).
// Reading them needs no symbol of the functions: only their declarations.

struct RawMemberFunction {
    std::ptrdiff_t ptr;
    std::ptrdiff_t adj;
};

// Where a virtual function is in the virtual table of the class whose
// subobject lies at byte offset `adjustment`.
struct VirtualSlot {
    bool is_virtual;
    std::ptrdiff_t slot;
    std::ptrdiff_t adjustment;
};

enum class VirtualBit { InPointer, InAdjustment, Unknown };

template <class P>
RawMemberFunction RawOf(P pointer)
{
    static_assert(std::is_member_function_pointer_v<P>);
    static_assert(sizeof(P) == sizeof(RawMemberFunction), "not an Itanium C++ ABI member pointer");
    RawMemberFunction raw;
    std::memcpy(&raw, &pointer, sizeof(raw));
    return raw;
}

template <class T, class C>
std::ptrdiff_t OffsetOf(T C::*member)
{
    static_assert(sizeof(member) == sizeof(std::ptrdiff_t), "not an Itanium C++ ABI member pointer");
    std::ptrdiff_t offset;
    std::memcpy(&offset, &member, sizeof(offset));
    return offset;
}

// Finds out where this compiler keeps the flag, from a function of known slot.
inline VirtualBit ThisCompilersVirtualBit()
{
    struct Known {
        virtual void First() = 0;
        virtual void Second() = 0;
    };
    const RawMemberFunction raw = RawOf(&Known::Second);
    const auto entry = static_cast<std::ptrdiff_t>(sizeof(void (*)()));
    if (raw.ptr == 1 + entry && raw.adj == 0) {
        return VirtualBit::InPointer;
    }
    if (raw.ptr == entry && raw.adj == 1) {
        return VirtualBit::InAdjustment;
    }
    return VirtualBit::Unknown;
}

inline VirtualSlot SlotOf(RawMemberFunction raw, VirtualBit bit)
{
    const auto entry = static_cast<std::ptrdiff_t>(sizeof(void (*)()));
    if (bit == VirtualBit::InPointer) {
        return {(raw.ptr & 1) != 0, (raw.ptr - 1) / entry, raw.adj};
    }
    return {(raw.adj & 1) != 0, raw.ptr / entry, raw.adj >> 1};
}
