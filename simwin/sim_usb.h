// The USB stack of the simulated machine: host controllers, root hubs and external hubs.
#pragma once

namespace sim {} // namespace sim
