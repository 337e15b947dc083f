#pragma once
// Message dialogs that any thread may show: the dialog always runs on the main thread.

#include <functional>
#include <string>

#include "platform/Dialogs.h"
#include "platform/Object.h"

class TThreadDialog : public TObject {
public:
    virtual void ShowDialog() = 0;  // on the main thread: hooks around DoShowDialog

protected:
    virtual void DoShowDialog() = 0;
};

class TThreadDialogBase : public TThreadDialog {
public:
    void ShowDialog() override;
};

class TThreadMessageDlg : public TThreadDialogBase {
public:
    TThreadMessageDlg(std::string caption, std::string message, TMsgDlgType type, TMsgDlgButtons buttons);
    int Result() const { return FResult; }

protected:
    void DoShowDialog() override;

private:
    std::string FCaption;
    std::string FMessage;
    TMsgDlgType FType;
    TMsgDlgButtons FButtons;
    int FResult = mrNone;
};

using TThreadDialogHook = std::function<void()>;
// Process-wide hooks run on the main thread before and after every dialog; empty: skipped.
// Installed and removed on the main thread.
extern TThreadDialogHook OnThreadDialogBegin;
extern TThreadDialogHook OnThreadDialogEnd;

int ThreadMessageDlg(const std::string& caption, const std::string& message, TMsgDlgType type,
                     TMsgDlgButtons buttons);
int ThreadMessageDlg(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons);
