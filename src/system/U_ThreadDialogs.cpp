#include "system/U_ThreadDialogs.h"

#include <memory>

#include "platform/Thread.h"

TThreadDialogHook OnThreadDialogBegin;
TThreadDialogHook OnThreadDialogEnd;

void TThreadDialogBase::ShowDialog() {
    if (OnThreadDialogBegin) OnThreadDialogBegin();
    try {
        DoShowDialog();
    } catch (...) {
        // The screen is put back even when the dialog failed; the error goes on to the asker.
        if (OnThreadDialogEnd) OnThreadDialogEnd();
        throw;
    }
    if (OnThreadDialogEnd) OnThreadDialogEnd();
}

TThreadMessageDlg::TThreadMessageDlg(std::string caption, std::string message, TMsgDlgType type,
                                     TMsgDlgButtons buttons)
    : FCaption(std::move(caption)), FMessage(std::move(message)), FType(type), FButtons(buttons) {}

void TThreadMessageDlg::DoShowDialog() { FResult = MessageDlg(FCaption, FMessage, FType, FButtons, 0); }

int ThreadMessageDlg(const std::string& caption, const std::string& message, TMsgDlgType type,
                     TMsgDlgButtons buttons) {
    auto dialog = std::make_unique<TThreadMessageDlg>(caption, message, type, buttons);
    if (IsMainThread())
        dialog->ShowDialog();
    else
        Synchronize([&] { dialog->ShowDialog(); });
    return dialog->Result();
}

int ThreadMessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons) {
    return ThreadMessageDlg("", message, type, buttons);
}
