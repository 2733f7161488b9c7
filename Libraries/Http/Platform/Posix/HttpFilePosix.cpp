#include "Core/Strings.h"
#include "HttpInternal.h"

namespace velto {

std::string http_native_text(TextView text) {
  return to_utf8(text);
}

}  // namespace velto
