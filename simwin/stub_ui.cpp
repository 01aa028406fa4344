// Area hooks not yet simulated: the area's own file replaces this stub.
#include "simwin/internal.h"

namespace sim::detail {

void reset_ui() {}

} // namespace sim::detail
