// Starting what the user asked for after an installation (the programs of the
// run button, the browser visit) with the signed-in user's rights, not the
// installer's: the installer runs elevated, or as SYSTEM under a deployment
// tool, and nothing it starts for the user should inherit that.
//
// The desktop shell (Explorer) starts it from its own token when it can be
// reached. Without one, a program starts directly only when this process has
// no more rights than a user (not elevated, not SYSTEM); otherwise it is not
// started at all, and the log says why.
#pragma once

#include "ZoTypes.h"

enum class TUserLaunch {
    Shell,    // handed to the desktop shell
    Direct,   // started by this process, which runs with a user's rights
    Refused,  // no desktop shell, and this process's rights are more than a user's
    Failed,   // the direct start failed
};

// file: a program, a document or an address; params and dir may be empty.
TUserLaunch StartAsUser(const WideString& file, const WideString& params, const WideString& dir);

// An address in the user's browser, logged; a direct start that fails tries
// Internet Explorer as TZoWinfn::OpenUrl does.
void OpenUrlAsUser(const WideString& address);

// The log's words for how it went.
WideString UserLaunchText(TUserLaunch how);
