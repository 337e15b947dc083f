#pragma once
// The platform's modal message dialog, as a replaceable function. The desktop program
// installs the real one; until then every question is answered No at once, as a host
// without a display answers.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
    mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll,
    mbHelp, mbClose,
};

// A set of buttons: bit (1 << TMsgDlgBtn).
using TMsgDlgButtons = uint32_t;
constexpr TMsgDlgButtons DlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    TMsgDlgButtons set = 0;
    for (auto b : buttons) set |= 1u << b;
    return set;
}
constexpr bool HasButton(TMsgDlgButtons set, TMsgDlgBtn b) { return (set >> b) & 1u; }

// Result codes of the button that closed a dialog.
enum : int {
    mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
    mrNo = 7, mrClose = 8, mrHelp = 9, mrAll = 12, mrNoToAll = 13, mrYesToAll = 14,
};

using TMessageDlgFunc = std::function<int(const std::string& caption, const std::string& message,
                                          TMsgDlgType type, TMsgDlgButtons buttons, int helpContext)>;

// Installs the dialog function; an empty function restores the default (answer No).
// Safe to call while other threads show dialogs: a dialog already running keeps the
// function it started with.
void SetMessageDlgFunc(TMessageDlgFunc func);
// Shows the dialog on the calling thread (the caller makes sure that is the main thread).
int MessageDlg(const std::string& caption, const std::string& message, TMsgDlgType type,
               TMsgDlgButtons buttons, int helpContext = 0);

// The title a dialog of this type gets when its caption is empty ("Confirmation" for
// mtConfirmation, ...; "" for mtCustom, which takes the program's title). MessageDlg passes
// an empty caption on unchanged: the installed function titles the dialog with this.
std::string MsgDlgDefaultCaption(TMsgDlgType type);
