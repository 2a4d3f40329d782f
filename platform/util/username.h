// The user the process runs as.
//
// The system shows the user's login name (the UserProfile's "Username") and
// keeps per-user settings under the user's home folder. Both come from the
// password database entry of the effective user, so that a program started
// through su or sudo sees the account it acts for; the environment is only a
// fallback for accounts the database does not know (containers, minimal
// systems), because any process can set it to anything.
#pragma once

#include <string>

namespace tq {

// The login name of the effective user: the password entry of geteuid(),
// else $USER, else $LOGNAME; empty when none of these gives a name.
std::string UserName();

// The home folder of the user: $HOME when it is an absolute path (the user's
// own choice wins, as in every POSIX tool), else the password entry's folder;
// empty when neither is known.
std::string UserHomeFolder();

}  // namespace tq
