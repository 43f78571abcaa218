// Whether the ZUV program itself runs on this workstation: the installer must not
// replace its files or data under it.
#pragma once

namespace zuv::app {

// True when a process whose executable name, trimmed and in upper case, is "ZUV.EXE"
// runs. The process list is taken after a pause of half a second (pause_ms), which
// gives a program just closed by the operator the time to go.
bool IS_ZUV_RUN(int pause_ms = 500);

}  // namespace zuv::app
