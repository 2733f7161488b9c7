#include <cstdint>
#include <optional>

#include "Core/Strings.h"
#include "UpdateCheck.h"

namespace velto::app {

int version_compare(TextView candidate, TextView current) {
  if (str_count(candidate, u".") < 3 || str_count(current, u".") < 3) {
    return 0;
  }
  for (int field = 1; field <= 4; ++field) {
    TempScope scope;
    const std::optional<std::int64_t> mine = str_to_int_exact(str_field(current, field, u"."));
    const std::optional<std::int64_t> theirs = str_to_int_exact(str_field(candidate, field, u"."));
    if (!mine || !theirs) {
      // A field no number can hold is never taken for a newer release.
      return 0;
    }
    if (*theirs != *mine) {
      return *theirs > *mine ? 1 : -1;
    }
  }
  return 0;
}

}  // namespace velto::app
