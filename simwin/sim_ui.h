// The user interface of the simulated machine: windows, messages, timers and the virtual clock.
#pragma once

namespace sim {} // namespace sim
