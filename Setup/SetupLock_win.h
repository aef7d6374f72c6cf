// One setup of a product at a time. The installer and the uninstaller hold a
// named mutex of the product's GUID while they run; one started meanwhile
// finds it held, says so and changes nothing. An installer hands its lock on
// to the earlier version's uninstaller it runs itself: that child finds the
// installer named as holder in its environment and its parent.
//
// The mutex lives in a private namespace whose boundary is the Administrators
// group (for the machine) or the user's own SID (for one user), so a process
// outside it cannot create or hold the name and keep setups from running.
#pragma once

#include "ZoTypes.h"
#include "ZoWinHandles_win.h"

// Whichever of the two finds the lock held says TTextId::SetupRunningFormat.
class TSetupLock {
public:
    TSetupLock() = default;
    TSetupLock(const TSetupLock&) = delete;
    TSetupLock& operator=(const TSetupLock&) = delete;
    ~TSetupLock();

    enum class TScope { Machine, User };

    // False when another installer or uninstaller of the product holds the
    // lock (and it is not this process's parent handing it on), or when this
    // process is outside the scope's boundary. Where no lock can be made at
    // all, true: nothing can tell who runs then.
    bool Acquire(const WideString& guid, TScope scope = TScope::Machine);
    // Lets go before the program hands its work to an elevated copy of itself.
    void Release();

private:
    struct TNamespaceTraits {
        static HANDLE Invalid() { return nullptr; }
        static void Close(HANDLE h) { ::ClosePrivateNamespace(h, 0); }
    };
    // Kept open while the mutex is: a namespace whose handles are all closed
    // can no longer be opened, and a later setup would make a new one.
    TUniqueAny<HANDLE, TNamespaceTraits> namespace_;
    TUniqueHandle mutex_;
    bool held_ = false;
};
