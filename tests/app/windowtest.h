#pragma once
// Small pieces shared by the window's tests; fileBytes() and kLiveHeader live in clirun.h.
#include "clirun.h"
