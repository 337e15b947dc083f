#include "platform/Dialogs.h"

#include <memory>
#include <mutex>

namespace {

std::mutex gDialogLock;
TMessageDlgFunc gDialogFunc;

}  // namespace

void SetMessageDlgFunc(TMessageDlgFunc func) {
    std::lock_guard<std::mutex> lock(gDialogLock);
    gDialogFunc = std::move(func);
}

int MessageDlg(const std::string& caption, const std::string& message, TMsgDlgType type,
               TMsgDlgButtons buttons, int helpContext) {
    TMessageDlgFunc func;
    {
        // A copy, so the lock is not held while the dialog is on screen and the function may
        // be replaced (or removed) meanwhile without pulling it from under a running dialog.
        std::lock_guard<std::mutex> lock(gDialogLock);
        func = gDialogFunc;
    }
    if (!func) return mrNo;
    return func(caption, message, type, buttons, helpContext);
}

std::string MsgDlgDefaultCaption(TMsgDlgType type) {
    switch (type) {
        case mtWarning: return "Warning";
        case mtError: return "Error";
        case mtInformation: return "Information";
        case mtConfirmation: return "Confirmation";
        case mtCustom: break;
    }
    return "";
}
