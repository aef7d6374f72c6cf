// The proxy settings window: no proxy, or a proxy server with port, user name
// and password. It edits the main window's own record; the download copies
// that record into the process-wide one before every attempt.
#pragma once

#include "BaseDialogFrm_win.h"

class TZoHttpProxy;

// Control IDs of this window (OK and Cancel keep the base dialog's).
enum TProxySettingsId : int {
    idRbNoProxy = 600,
    idRbUseProxy = 601,
    idLblProxyAddress = 602,
    idEdtProxyAddress = 603,
    idLblProxyPort = 604,
    idEdtProxyPort = 605,
    idLblProxyUser = 606,
    idEdtProxyUser = 607,
    idLblProxyPassword = 608,
    idEdtProxyPassword = 609,
};
#define ZO_PROXYSETTINGSFORM_CLASS L"TIndyProxySettingsForm"

class TIndyProxySettingsForm : public TBaseDialogForm {
public:
    explicit TIndyProxySettingsForm(TCustomForm* owner);

    // Shows the window over owner filled from proxy; on OK the controls are
    // written back into proxy. True exactly when the user accepted.
    static bool EditProxySettings(TCustomForm* owner, TZoHttpProxy& proxy);

    TControl* rbNoProxy = nullptr;
    TControl* rbUseProxy = nullptr;
    TControl* lblProxyAddress = nullptr;
    TControl* edtProxyAddress = nullptr;
    TControl* lblProxyPort = nullptr;
    TControl* edtProxyPort = nullptr;  // whole numbers 0 to 65535
    TControl* lblProxyUser = nullptr;
    TControl* edtProxyUser = nullptr;
    TControl* lblProxyPassword = nullptr;
    TControl* edtProxyPassword = nullptr;

    void LoadFromProxy(const TZoHttpProxy& proxy);
    void SaveToProxy(TZoHttpProxy& proxy) const;
    // The proxy's fields are enabled exactly when a proxy is used.
    void UpdateControls();
    // A proxy needs an address; without one, says so and focuses the field.
    bool ValidateInput();
    // The port box's value: its number, limited to the box's range (0 when empty).
    int PortValue() const;

    void rbNoProxyClick() { UpdateControls(); }
    void rbUseProxyClick() { UpdateControls(); }
    void btnOkClick();

protected:
    void LayOutTexts() override;
};
