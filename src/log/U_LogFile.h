#pragma once
// The host log: the one log of the host process. Every part of the host reports through
// HostLog; the file is switched on by the key "FileName" of section "Log" in the host ini
// file, and with no file configured a report costs almost nothing.

#include <cstdint>
#include <exception>
#include <string>

#include "log/KXPluginLogerBase.h"
#include "platform/Sync.h"

enum TLogKind : uint8_t { lkError = 0, lkWarning = 1, lkInfo = 2, lkDetail = 3, lkNone = 4, lkCleanup = 5 };

// The host log has a class of its own.
class THostLoger : public TKXPluginLogerBase {};

// Callable from any thread; never fails towards the caller. lkError gives an error entry,
// lkNone nothing, every other kind a message entry. A non-empty Detail is written as the
// one parameter name of the entry.
void HostLog(const TObject* Sender, const std::string& Text, TLogKind Kind = lkInfo, const std::string& Detail = {});
// An error entry "[Text: ]Exception <class>: <message>".
void HostLogException(const TObject* Sender, const std::string& Text, const std::exception& E);

// The host log object, created on first use; none once FinishHostLog has run.
THostLoger* GetHostLog();
// At process end: writes "LOG FINISH!" and frees the host log object. Later calls do nothing.
void FinishHostLog();

// Unit initialisation, called by the program entry before anything reports: creates the
// host log object (not yet opened) and starts a new log lifecycle.
void InitHostLog();

// Guards the creation and the finishing of the host log object.
TCriticalSection& HostLogLock();
// True once FinishHostLog has run.
bool LogFinished();
