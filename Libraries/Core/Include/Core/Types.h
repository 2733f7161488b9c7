#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#ifdef IGNORE
#undef IGNORE  // winbase.h's; see Core/WinApi.h
#endif

namespace velto {

// Object numbers name runtime objects. 0 and above index a library's
// registry; ANY_NUMBER asks for a dynamic number, which is the address of the
// object's record. They are pointer-sized so that such an address always fits.
using ObjectNumber = std::intptr_t;

inline constexpr ObjectNumber ANY_NUMBER = -1;

// Geometry argument meaning "keep the current value".
inline constexpr int IGNORE = -65535;

// Runtime text is UTF-16; absent text reads as empty.
using Text = std::u16string;
using TextView = std::u16string_view;

}  // namespace velto
