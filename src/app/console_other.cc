#include "app/console.h"

namespace vramcheck {

// Terminals outside Windows interpret the escape sequence as it is.
void ClearScreen(std::ostream& out, std::string_view sequence) {
  out << sequence;
}

}  // namespace vramcheck
