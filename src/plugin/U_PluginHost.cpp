#include "plugin/U_PluginHost.h"

#include <climits>

#include "log/U_LogFile.h"
#include "platform/ComInit.h"
#include "platform/Files.h"
#include "system/KXSysTools_v20_2.h"

TPluginHost* PluginHost = nullptr;

static_assert(std::atomic<TDateTime>::is_always_lock_free, "LastConnect must be one atomic 64-bit value");

namespace {

const TProcNames& PluginProcNames() {
    static const TProcNames names = {"WS_Initialize", "WS_Execute", "WS_ExecuteEx", "WS_Shutdown"};
    return names;
}

// Size query and fetch of WS_ExecuteEx.
constexpr int32_t ModeQuerySize = 1;
constexpr int32_t ModeFetch = 2;

// Keeps the per-call component model set-up paired with its tear-down on every path.
struct TComScope {
    TComScope() { CoInitializeThread(); }
    ~TComScope() { CoUninitializeThread(); }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;
};

}  // namespace

// A command inside the plugin: it starts only while the exports stay as they are, and the
// release of the library waits until it is out. Commands pass on atomics alone; the lock
// is taken only while a binding or release is going on.
class TPluginCallScope {
public:
    explicit TPluginCallScope(TPluginHost& H) : FHost(H) {
        for (;;) {
            // Announce first, then look: a binder sets its flag first, then counts, so
            // one of the two always sees the other.
            FHost.FCallsInFlight.fetch_add(1);
            if (!FHost.FBinding.load()) return;
            Leave();
            std::unique_lock<std::mutex> lk(FHost.FCallLock);
            FHost.FCallsChanged.wait(lk, [this] { return !FHost.FBinding.load(); });
        }
    }
    ~TPluginCallScope() { Leave(); }
    TPluginCallScope(const TPluginCallScope&) = delete;
    TPluginCallScope& operator=(const TPluginCallScope&) = delete;

private:
    void Leave() {
        if (FHost.FCallsInFlight.fetch_sub(1) == 1 && FHost.FBinding.load()) {
            std::lock_guard<std::mutex> g(FHost.FCallLock);
            FHost.FCallsChanged.notify_all();
        }
    }
    TPluginHost& FHost;
};

// Binding or releasing the exports: waits until no command is inside the plugin and keeps
// new ones out until done.
class TPluginBindScope {
public:
    explicit TPluginBindScope(TPluginHost& H) : FHost(H) {
        std::unique_lock<std::mutex> lk(FHost.FCallLock);
        FHost.FCallsChanged.wait(lk, [this] { return !FHost.FBinding.load(); });
        FHost.FBinding.store(true);
        FHost.FCallsChanged.wait(lk, [this] { return FHost.FCallsInFlight.load() == 0; });
    }
    ~TPluginBindScope() {
        std::lock_guard<std::mutex> g(FHost.FCallLock);
        FHost.FBinding.store(false);
        FHost.FCallsChanged.notify_all();
    }
    TPluginBindScope(const TPluginBindScope&) = delete;
    TPluginBindScope& operator=(const TPluginBindScope&) = delete;

private:
    TPluginHost& FHost;
};

TPluginHost::TPluginHost() : TPluginHost(TKXPluginLogerBase::GetIniFileName()) {}

TPluginHost::TPluginHost(const std::string& SettingsIniFile)
    : FSettings(std::make_unique<THostSettings>(SettingsIniFile)),
      FPoints{reinterpret_cast<void**>(&FWS_Initialize), reinterpret_cast<void**>(&FWS_Execute),
              reinterpret_cast<void**>(&FWS_ExecuteEx), reinterpret_cast<void**>(&FWS_Shutdown)} {
    FSettings->Load();
    FLastConnect.store(0);
}

TPluginHost::~TPluginHost() {
    // The listeners are stopped here first once they join this class (StopServers).
    try {
        // Every registration, in case the plugin was loaded more than once.
        while (LibManager()->ForgetPoints(FPoints)) {
        }
    } catch (...) {
    }
}

void TPluginHost::RouteLibraryReports() {
    TKXLibManager* manager = LibManager();
    manager->SetOnError([](const TObject* Sender, const std::string& Text, const std::string& Details) {
        HostLog(Sender, Text, lkError, Details);
    });
    manager->SetOnLog([](const TObject* Sender, const std::string& Text, const std::string& Details) {
        HostLog(Sender, Text, lkInfo, Details);
    });
}

bool TPluginHost::LoadPlugin() {
    RouteLibraryReports();
    bool result;
    {
        TPluginBindScope binding(*this);
        result = LoadDynLibrary(PluginLibraryName, FPoints, PluginProcNames());
    }
    if (result) {
        HostLog(this, "Library version: " + PluginVersion());
        try {
            FWS_Initialize();
        } catch (const std::exception& e) {
            HostLogException(this, "Library initialization", e);
        } catch (...) {
            HostLog(this, "Library initialization: unknown exception", lkError);
        }
    }
    return result;
}

bool TPluginHost::UnloadPlugin() {
    bool result;
    {
        // Connection threads may still be inside a command: the library must not go from
        // under them.
        TPluginBindScope releasing(*this);
        if (FWS_Shutdown) FWS_Shutdown();
        result = UnloadDynLibrary(PluginLibraryName);
    }
    TKXLibManager* manager = LibManager();
    manager->SetOnError(nullptr);
    manager->SetOnLog(nullptr);
    return result;
}

bool TPluginHost::IsPluginLoaded() const {
    std::lock_guard<TCriticalSection> hold(LibLock());
    return LibManager()->FindLibrary(PluginLibraryName) != nullptr;
}

std::string TPluginHost::PluginPath() const {
    // The path is copied under the lock: the library may be released right afterwards.
    std::lock_guard<TCriticalSection> hold(LibLock());
    TKXDynLibrary* library = LibManager()->FindLibrary(PluginLibraryName);
    return library ? library->Path() : std::string();
}

std::string TPluginHost::PluginVersion() const {
    std::string path = PluginPath();
    return path.empty() ? std::string() : GetFileVersion(path);
}

bool TPluginHost::ProcessCommand(const std::string& Command, std::string& Reply) {
    bool result = false;
    try {
        Reply.clear();
        HostLog(this, "Processing command...");
        TComScope com;
        try {
            TPluginCallScope call(*this);
            TWS_ExecuteExProc execute = FWS_ExecuteEx;
            if (!execute) {
                HostLog(this, "No executor! Library not loaded?", lkError);
                return false;
            }
            // The size counts the terminating zero and must fit the plugin's 32-bit argument.
            if (Command.size() >= static_cast<size_t>(INT32_MAX)) {
                HostLog(this, "ProcessCommand: Command too large!", lkError);
                return false;
            }
            const int32_t commandSize = static_cast<int32_t>(Command.size() + 1);
            // c_str(): an empty command is one zero byte, never a null address.
            int32_t replySize = 0;
            if (execute(Command.c_str(), commandSize, nullptr, &replySize, ModeQuerySize) < 0) {
                HostLog(this, "ProcessCommand: Error preparing reply!", lkError);
                return false;
            }
            if (replySize > 0) {
                Reply.assign(static_cast<size_t>(replySize), '\0');
                // Whatever size the fetch stores, the reply keeps the length of the query.
                int32_t fetchSize = replySize;
                if (execute(Command.c_str(), commandSize, Reply.data(), &fetchSize, ModeFetch) < 0) {
                    HostLog(this, "ProcessCommand: Error receiving reply!", lkError);
                    return false;
                }
            }
            HostLog(this, "Command processed.");
            result = true;
        } catch (const std::exception& e) {
            HostLogException(this, "Processing error", e);
            result = false;
        } catch (...) {
            HostLog(this, "Processing error: unknown exception", lkError);
            result = false;
        }
    } catch (...) {
        // Nothing leaves towards the connection thread, not even a lack of memory here.
        result = false;
    }
    return result;
}

void TPluginHost::MarkActivity() { FLastConnect.store(Now(), std::memory_order_release); }

void TPluginHost::AgentName(std::string& Text) const {
    const std::string program = ExeFileName();
    Text = ExtractFileBaseName(program) + "/" + GetFileVersion(program);
}
