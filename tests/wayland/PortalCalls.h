// The desktop portal asked through the program's own portal client, for the probe's modes that
// libportal 0.6 cannot express: an app id registered with the host registry, global shortcuts,
// and a remote-desktop session that asks to be remembered. Each step prints one line with what
// the portal answered, for whoever writes down how a desktop behaves.
#pragma once

namespace probe {

// The probe's modes; each returns the process's exit status.
//   --shortcuts TOKEN [--register APP_ID] [--expect ID[,ID...]] [--timeout S]
//   --remote-persist TOKEN_FILE [--register APP_ID] [--timeout S]
int runShortcuts(int argc, char** argv);
int runRemotePersist(int argc, char** argv);

}  // namespace probe
