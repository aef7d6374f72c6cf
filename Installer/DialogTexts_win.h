// The OK / Cancel / Apply strip of the installer's dialogs, in its language.
#pragma once

#include "BaseDialogFrm_win.h"
#include "Texts.h"

inline TDialogButtonTexts DialogButtonTexts()
{
    return {Text(TTextId::OkButton), Text(TTextId::CancelButton), Text(TTextId::ApplyButton)};
}
