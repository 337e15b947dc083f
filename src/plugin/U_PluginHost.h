#pragma once
// The bridge between the local web server and the crypto plugin library: owns the
// settings, loads the plugin and binds its four exports, hands each command to it and
// returns its reply, and records when a listener last saw a connection.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/DateTime.h"
#include "platform/Object.h"
#include "plugin/KXLibUtils_v20_2.h"
#include "settings/U_Settings.h"

// The plugin library, found by the library search: the program's own folder first.
inline constexpr const char* PluginLibraryName = "npKexoPlugin.so";

// The plugin's exports. WS_ExecuteEx: command (zero-terminated), command size counting the
// zero, reply buffer, reply size (in/out), mode (1 size query, 2 fetch); negative is failure.
using TWS_InitializeProc = int32_t (*)();
using TWS_ExecuteProc = int32_t (*)(const char* Command, int32_t CommandSize, char* Reply, int32_t ReplySize);
using TWS_ExecuteExProc = int32_t (*)(const char* Command, int32_t CommandSize, char* Reply, int32_t* ReplySize,
                                      int32_t Mode);
using TWS_ShutdownProc = int32_t (*)();

class TPluginHost : public TObject {
public:
    // Creates the settings and loads them from the host ini file.
    TPluginHost();
    // The same with the settings in the given ini file.
    explicit TPluginHost(const std::string& SettingsIniFile);
    // Frees the settings without saving them. The plugin should have been released before;
    // if it was not, this object's variables are taken out of the library's bookkeeping so
    // that a later release cannot write into freed memory.
    ~TPluginHost() override;
    TPluginHost(const TPluginHost&) = delete;
    TPluginHost& operator=(const TPluginHost&) = delete;

    THostSettings& Settings() const { return *FSettings; }
    // Local time of the last accepted connection; 0 until then. Any thread.
    TDateTime LastConnect() const { return FLastConnect.load(std::memory_order_acquire); }

    // Loads the plugin through the library manager and calls WS_Initialize. True only when
    // all four exports were found; what WS_Initialize does does not change it.
    bool LoadPlugin();
    // Calls WS_Shutdown (unguarded: what it raises reaches the caller) and releases the
    // library, which sets the four variables to none.
    bool UnloadPlugin();
    bool IsPluginLoaded() const;
    std::string PluginPath() const;
    std::string PluginVersion() const;

    // Runs one command through the plugin: a size query, then the fetch. Never raises;
    // safe from many threads at once (the plugin must be too).
    bool ProcessCommand(const std::string& Command, std::string& Reply);

    // The listeners' OnAccept: LastConnect := now. Any thread.
    void MarkActivity();
    // Program file name without extension + "/" + its file version, for the "Server: " header.
    void AgentName(std::string& Text) const;

    // The listeners (StartServers, StopServers, IsRunning) and the status text (StatusText)
    // join this class together with the web server.

    // The export variables, for whoever needs to see what is bound.
    TWS_InitializeProc WS_Initialize() const { return FWS_Initialize; }
    TWS_ExecuteProc WS_Execute() const { return FWS_Execute; }
    TWS_ExecuteExProc WS_ExecuteEx() const { return FWS_ExecuteEx; }
    TWS_ShutdownProc WS_Shutdown() const { return FWS_Shutdown; }

private:
    friend class TPluginCallScope;
    friend class TPluginBindScope;
    void RouteLibraryReports();

    std::unique_ptr<THostSettings> FSettings;
    std::atomic<TDateTime> FLastConnect{0};
    TWS_InitializeProc FWS_Initialize = nullptr;
    TWS_ExecuteProc FWS_Execute = nullptr;
    TWS_ExecuteExProc FWS_ExecuteEx = nullptr;
    TWS_ShutdownProc FWS_Shutdown = nullptr;
    // The addresses of the four variables above, in export order.
    const TProcPoints FPoints;
    // Commands inside the plugin, and whether the exports are being bound or released: a
    // release waits for the commands in flight, and no command starts meanwhile.
    std::mutex FCallLock;
    std::condition_variable FCallsChanged;
    std::atomic<int> FCallsInFlight{0};
    std::atomic<bool> FBinding{false};
};

// The one plugin host, created and freed by the main window; none outside that span, so
// code that may run outside it tests for it.
extern TPluginHost* PluginHost;
