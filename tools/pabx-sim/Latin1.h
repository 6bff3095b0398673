#pragma once
// Text on the control link travels as Latin-1; the simulator keeps UTF-8 inside.
#include <string>
#include <string_view>

namespace pabxsim {

// Characters without a Latin-1 form become '?'; broken UTF-8 bytes too.
std::string ToLatin1(std::string_view utf8);
std::string FromLatin1(std::string_view latin1);

}  // namespace pabxsim
