#pragma once
// Host settings, their ini file, and the trusted-domain lists.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/IniFile.h"
#include "platform/Strings.h"
#include "platform/Sync.h"

// The host's own DNS name (resolves to the loopback address); always trusted.
inline constexpr const char* PluginHostName = "kexo-plugin.localhost";

// Reduces an origin or referer to its host name (lower case), with or without its port.
std::string NormalizeDomain(std::string_view Text, bool KeepPort);

// A list of domain texts whose delimited text uses ';' and the double quote.
class TBaseDomainList : public TStringList {
public:
    TBaseDomainList();
};

// The trusted domains as entered or confirmed, and the set of host names requests are
// matched against. Connection workers read the list on every request while a worker that
// got a yes, or the main thread replacing the text, changes it: the operations below are
// guarded, and the host names live in an immutable snapshot that is swapped whole, so no
// reader ever sees a torn list.
class TDomainList : public TBaseDomainList {
public:
    TDomainList();

    // A copy of the current host names: PluginHostName first, then one per non-blank entry.
    TBaseDomainList Origins() const;
    void ResetOrigins();
    void RemoveBlankEntries();
    void UpdateOrigins();

    virtual bool CheckDomain(const std::string& AOrigin, const std::string& AReferer);
    std::string AllowOriginValue(const std::string& AOrigin) const;

    // Guarded forms of the list operations that may race with the workers.
    std::string DelimitedText() const;
    // Replaces the entries by the parsed text and rebuilds the host names, as one change.
    void SetDelimitedText(std::string_view text);
    // Replaces the entries only when the text differs (exactly) from the current one.
    bool ReplaceText(std::string_view text);
    int Add(std::string s);
    int Count() const;
    std::vector<std::string> Entries() const;

protected:
    // True when every non-empty value, without port, is a trusted host name.
    bool MatchesOrigins(const std::string& AOrigin, const std::string& AReferer) const;
    // Adds an entry with its port and its host name, as one change.
    void AddTrusted(const std::string& ADomain);

private:
    using TOriginSet = std::vector<std::string>;
    std::shared_ptr<const TOriginSet> Snapshot() const;
    void Publish(std::shared_ptr<const TOriginSet> origins);
    std::shared_ptr<const TOriginSet> BuildOrigins() const;  // under FListLock
    // Whether the host name of an origin or referer value is in the set.
    static bool Contains(const TOriginSet& origins, const std::string& value);

    mutable TCriticalSection FListLock;
    mutable std::mutex FOriginsLock;  // held only to copy or swap the pointer
    std::shared_ptr<const TOriginSet> FOrigins;
};

// Asks the user whether a page may use the plugin and its domain be trusted.
using TOnConfirmDomain = std::function<bool(const std::string& APage, const std::string& ADomain)>;
// Told (on the worker that got the yes) after a domain was added.
using TOnNewDomain = std::function<void()>;

class TDomainListPlus : public TDomainList {
public:
    TDomainListPlus();

    bool CheckDomain(const std::string& AOrigin, const std::string& AReferer) override;
    // True when nobody asks about ADomain now; otherwise waits until that question is
    // closed and gives false.
    bool WaitUntilNotPending(const std::string& ADomain);
    bool ConfirmAndAdd(const std::string& APage, const std::string& ADomain);

    // Workers currently waiting for another worker's question to be answered.
    int WaitingCount() const { return FWaiting.load(); }
    // Poll interval while waiting for another worker's question, in milliseconds; the
    // wait also ends at once when that question closes.
    void SetPendingPollMs(int ms) { FPendingPollMs = ms; }

    TOnConfirmDomain OnConfirmDomain;
    TOnNewDomain OnNewDomain;

private:
    // Registers ADomain as pending unless it already is; true when this call registered it.
    bool TryClaimPending(const std::string& ADomain);
    void RemovePending(const std::string& ADomain);
    // Waits until ADomain is not pending; true when it was not pending at the first look.
    bool WaitPendingCleared(const std::string& ADomain);
    bool Ask(const std::string& APage, const std::string& ADomain);

    TBaseDomainList FPending;
    mutable TCriticalSection FPendingLock;
    std::condition_variable_any FPendingCleared;
    std::atomic<int> FWaiting{0};
    int FPendingPollMs = 100;
};

// One group of settings.
class TBasicSettings : public TObject {
public:
    virtual void LoadFrom(const TMemIniFile& Ini, const std::string& Section) = 0;
    virtual void SaveTo(TMemIniFile& Ini, const std::string& Section) = 0;
    virtual std::string AsText() const = 0;
    virtual bool DiffersFromFile(const TMemIniFile& Ini, const std::string& Section) const = 0;
    virtual bool DiffersFromDefault() const = 0;
};

// The settings of one listener.
class TDaemonSettings : public TBasicSettings {
public:
    int Port() const { return FPort.load(); }
    void SetPort(int value) { FPort.store(value); }
    int DefaultPort() const { return FDefaultPort.load(); }
    void InitPort(int value);

    void LoadFrom(const TMemIniFile& Ini, const std::string& Section) override;
    void SaveTo(TMemIniFile& Ini, const std::string& Section) override;
    std::string AsText() const override;
    bool DiffersFromFile(const TMemIniFile& Ini, const std::string& Section) const override;
    bool DiffersFromDefault() const override;

private:
    std::atomic<int> FPort{0};
    std::atomic<int> FDefaultPort{0};
};

// The settings common to both listeners: the trusted domains.
class TCommonSettings : public TBasicSettings {
public:
    TCommonSettings();

    TDomainListPlus& DomainList() const { return *FDomainList; }
    std::string Domains() const;
    void SetDomains(const std::string& value);

    void LoadFrom(const TMemIniFile& Ini, const std::string& Section) override;
    void SaveTo(TMemIniFile& Ini, const std::string& Section) override;
    std::string AsText() const override;
    bool DiffersFromFile(const TMemIniFile& Ini, const std::string& Section) const override;
    bool DiffersFromDefault() const override;

private:
    std::unique_ptr<TDomainListPlus> FDomainList;
};

// Group bits of THostSettings::Save; 0 selects every group.
enum : uint8_t { sgCommon = 1, sgHTTP = 2, sgHTTPS = 4, sgHost = 8, sgAll = 0 };

class THostSettings : public TObject {
public:
    static constexpr int DefaultIdleTime = 300;
    static constexpr int DefaultHTTPPort = 11754;
    static constexpr int DefaultHTTPSPort = 11755;

    // Opens the host ini file (the log's rule) without reading values yet.
    THostSettings();
    // The same on a given file.
    explicit THostSettings(const std::string& iniFileName);
    ~THostSettings() override;

    const TMemIniFile& IniFile() const { return *FIniFile; }
    bool DevMode() const { return FDevMode.load(); }
    int IdleTime() const { return FIdleTime.load(); }
    void SetIdleTime(int value) { FIdleTime.store(value); }
    std::string LogFileName() const;
    void SetLogFileName(const std::string& value);
    bool ProxyMonitor() const { return FProxyMonitor.load(); }
    void SetProxyMonitor(bool value) { FProxyMonitor.store(value); }
    TDaemonSettings& Server_RPC() const { return *FServer_RPC; }
    TDaemonSettings& Server_SSL() const { return *FServer_SSL; }
    TCommonSettings& Server() const { return *FServer; }

    void Load();
    // Writes the selected groups when anything differs from the file; raises when the
    // file cannot be written (the values in memory stay).
    void Save(uint8_t Groups);
    bool DiffersFromFile() const;
    bool DiffersFromDefault() const;
    void SetDefaults();
    void LogCurrentSettings() const;

private:
    mutable TCriticalSection FFileLock;  // the ini content, between main thread and workers
    std::unique_ptr<TMemIniFile> FIniFile;
    std::atomic<bool> FDevMode{false};
    std::atomic<int> FIdleTime{DefaultIdleTime};
    mutable std::mutex FTextLock;
    std::string FLogFileName;
    std::atomic<bool> FProxyMonitor{true};
    std::unique_ptr<TDaemonSettings> FServer_RPC;
    std::unique_ptr<TDaemonSettings> FServer_SSL;
    std::unique_ptr<TCommonSettings> FServer;
};
