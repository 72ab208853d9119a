// Guard of hidapi's process-wide state. hid_open*, hid_enumerate (which set
// the state up on demand) and hid_exit (which tears it down) run under this
// mutex, so tearing down never races with another thread setting up.
#ifndef KORVANE_HIDAPISTATE_H
#define KORVANE_HIDAPISTATE_H

#include <mutex>

namespace korvane {

namespace hidapi_state {
std::mutex &mutex();
}  // namespace hidapi_state

}  // namespace korvane

#endif
