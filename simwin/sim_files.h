// The registry, the environment and the file system of the simulated machine.
#pragma once

namespace sim {} // namespace sim
