// Modifier flags of key events, with the bit values of the platform our stored bindings come from.
#pragma once

#include <cstdint>

namespace platform {

using ModifierFlags = std::uint64_t;

namespace modifier {

inline constexpr ModifierFlags capsLock = 1ull << 16;
inline constexpr ModifierFlags shift = 1ull << 17;
inline constexpr ModifierFlags control = 1ull << 18;
inline constexpr ModifierFlags option = 1ull << 19;
inline constexpr ModifierFlags command = 1ull << 20;
inline constexpr ModifierFlags numericPad = 1ull << 21; // keypad keys and arrows
inline constexpr ModifierFlags help = 1ull << 22;
inline constexpr ModifierFlags function = 1ull << 23; // F-keys and navigation keys

// Bits 16 to 31: what bindings store and compare. The bits below are device-dependent.
inline constexpr ModifierFlags deviceIndependentMask = 0xFFFF0000ull;

// The device-dependent bit that every translated key event carries, as the other platform's
// ordinary key events do; keys compared by their whole flags (0x100 = "no modifier held") rely on it.
inline constexpr ModifierFlags nonCoalesced = 0x100;

} // namespace modifier

inline constexpr ModifierFlags deviceIndependent(ModifierFlags flags) {
    return flags & modifier::deviceIndependentMask;
}

// Caps Lock is a state left on, not a key held: a lit lock must not change what a key means (a
// presenter's clicker sends the same keys whatever the keyboard's lights say). Num Lock never
// reaches the flags. Every comparison of keys goes through this.
inline constexpr ModifierFlags withoutLocks(ModifierFlags flags) {
    return flags & ~modifier::capsLock;
}

// The modifiers that tell one binding's key from another: the device-independent ones held.
inline constexpr ModifierFlags bindingModifiers(ModifierFlags flags) {
    return withoutLocks(deviceIndependent(flags));
}

} // namespace platform
