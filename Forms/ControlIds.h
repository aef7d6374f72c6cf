// Control IDs of the installer's windows: stable numbers that the windows,
// the UI test driver and the tests share.
#pragma once

enum TControlId : int {
    // TMainForm
    idTntPanel2 = 100,
    idImgBackground = 101,
    idLblAppTitle = 102,
    idLblVersion = 103,
    idImgMinimize = 104,
    idImgClose = 105,
    idImgIcon = 106,
    idBtnInstall = 107,
    idPnlBottom = 108,
    idLblDestDir = 109,
    idEdtDestDir = 110,
    idBtnDestDir = 111,
    idCbLicense = 112,
    idLblLicense = 113,
    idLblProxy = 114,
    idLblWait = 115,
    idPbProgress = 116,
    idLblDetail = 117,
    idBtnRunApp = 118,
    idRbAllUsers = 119,
    idRbCurrentUser = 120,

    // TBaseDialogForm: OK and Cancel keep the system's numbers.
    idBtnOk = 1,
    idBtnCancel = 2,
    idPnlButtons = 200,
    idBvlButtons = 201,
    idBtnApply = 202,
    idPnlBkClient = 203,

    // TLicenseForm
    idMemLicense = 300,

    // TCloseProgramsForm (a TBaseDialogForm: OK is "关闭程序并继续" or
    // "继续等待", Cancel "取消")
    idCloseLblInfo = 210,
    idCloseMemPrograms = 211,
    idBtnEndPrograms = 212,
};

// Labels and pictures drawn by their panel have no window to ask: the form
// answers this registered message about them, wParam the control ID and
// lParam the question; 0 when the form has no such windowless control.
#define ZO_WINDOWLESS_QUERY L"zosetup.WindowlessControl"
enum TWindowlessQuestion : int {
    wqState = 0,      // 1, plus 2 when visible and 4 when enabled
    wqLeft,           // the place in the parent's client area, device pixels
    wqTop,
    wqRight,
    wqBottom,
    wqParentId,       // the panel's control ID
    wqTextLength,
    // Asked with control ID 0: 1 while the form's controls are still drawn by
    // their panels, their windows to come (right after the first paint).
    wqWindowsToCome,
    wqTextChar = 0x100,  // + i: the text's character i
};

// Window class names: each window's class is named after its class.
#define ZO_MAINFORM_CLASS L"TMainForm"
#define ZO_LICENSEFORM_CLASS L"TLicenseForm"
#define ZO_CLOSEPROGRAMSFORM_CLASS L"TCloseProgramsForm"
