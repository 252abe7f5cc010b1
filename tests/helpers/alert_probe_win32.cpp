/* alert_probe_win32.cpp - alert_probe has no actions of its own on Windows. */
#include "alert_probe.h"

const probe_action PLATFORM_ACTIONS[] = {
    {nullptr, nullptr},
};
