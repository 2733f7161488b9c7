#include <cstdint>

#include "Core/Strings.h"
#include "UpdateCheck.h"

namespace velto::app {

int version_compare(TextView candidate, TextView current) {
  if (str_count(candidate, u".") < 3 || str_count(current, u".") < 3) {
    return 0;
  }
  for (int field = 1; field <= 4; ++field) {
    TempScope scope;
    // Only the low 32 bits count, as the published versions always did.
    const auto mine =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(str_to_int(str_field(current, field, u"."))));
    const auto theirs =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(str_to_int(str_field(candidate, field, u"."))));
    if (theirs != mine) {
      return theirs > mine ? 1 : -1;
    }
  }
  return 0;
}

}  // namespace velto::app
