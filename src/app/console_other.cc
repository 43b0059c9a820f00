#include "app/console.h"

namespace vramcheck {

// Terminals outside Windows interpret the escape sequences as they are.
void PrepareConsole() {}

}  // namespace vramcheck
