// Whether this build runs under AddressSanitizer. Its quarantine keeps freed
// memory resident, and its own checks open descriptors: bounds on a
// program's memory or descriptors measure the tool there, not the program.
#pragma once

namespace vexa::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace vexa::test
