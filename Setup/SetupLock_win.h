// One setup of a product at a time. The installer and the uninstaller hold a
// named mutex of the product's GUID while they run; one started meanwhile
// finds it held, says so and changes nothing. An installer hands its lock on
// to the earlier version's uninstaller it runs itself: that child finds the
// installer named as holder in its environment and its parent.
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

    // False when another installer or uninstaller of the product holds the
    // lock (and it is not this process's parent handing it on). Where no
    // lock can be made at all, true: nothing can tell who runs then.
    bool Acquire(const WideString& guid);

private:
    TUniqueHandle mutex_;
    bool held_ = false;
};
