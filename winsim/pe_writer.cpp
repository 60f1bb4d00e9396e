// Component files for simulated machines.
#include "winsim/internal.h"

namespace winsim {

std::string MakeComponentFile(const std::string &name, int build) {
  // Placeholder content until the PE writer lands: no version resource.
  return "MZ component " + name + " build " + std::to_string(build) + "\n";
}

}  // namespace winsim
