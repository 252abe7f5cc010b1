/* platform_probe_win32.cpp - platform_probe has no actions of its own on Windows: Ctrl-C is sent
 * from the Linux side (tests/driver/ctrl_c_win32.sh). */
#include "platform_probe.h"

const probe_action PLATFORM_ACTIONS[] = {
    {nullptr, nullptr},
};
