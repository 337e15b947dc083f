#include "settings/U_Settings.h"

#include <chrono>

#include "log/KXPluginLogerBase.h"
#include "log/U_LogFile.h"

// ---- NormalizeDomain ----

namespace {
void RemoveFirstText(std::string& s, std::string_view what) {
    size_t p = FindText(s, what);
    if (p != std::string::npos) s.erase(p, what.size());
}
}  // namespace

std::string NormalizeDomain(std::string_view Text, bool KeepPort) {
    std::string s = Trim(Text);
    RemoveFirstText(s, "http://");
    RemoveFirstText(s, "https://");
    size_t slash = s.find('/');
    if (slash != std::string::npos) s.erase(slash);
    if (!KeepPort) {
        size_t colon = s.find(':');
        if (colon != std::string::npos) s.erase(colon);
    }
    return LowerCase(s);
}

// ---- TBaseDomainList ----

TBaseDomainList::TBaseDomainList() {
    SetDelimiter(';');
    SetQuoteChar('"');
}

// ---- TDomainList ----

TDomainList::TDomainList() { ResetOrigins(); }

std::shared_ptr<const TDomainList::TOriginSet> TDomainList::Snapshot() const {
    std::lock_guard<std::mutex> guard(FOriginsLock);
    return FOrigins;
}

void TDomainList::Publish(std::shared_ptr<const TOriginSet> origins) {
    std::lock_guard<std::mutex> guard(FOriginsLock);
    FOrigins = std::move(origins);
}

TBaseDomainList TDomainList::Origins() const {
    TBaseDomainList copy;
    for (const auto& host : *Snapshot()) copy.TStringList::Add(host);
    return copy;
}

void TDomainList::ResetOrigins() {
    Publish(std::make_shared<const TOriginSet>(TOriginSet{PluginHostName}));
}

void TDomainList::RemoveBlankEntries() {
    std::lock_guard<TCriticalSection> guard(FListLock);
    for (int i = TStringList::Count() - 1; i >= 0; --i)
        if (Trim(TStringList::Strings(i)).empty()) TStringList::Delete(i);
}

std::shared_ptr<const TDomainList::TOriginSet> TDomainList::BuildOrigins() const {
    auto origins = std::make_shared<TOriginSet>();
    origins->push_back(PluginHostName);
    for (const auto& entry : TStringList::Items()) {
        std::string host = Trim(NormalizeDomain(entry, false));
        if (!host.empty()) origins->push_back(std::move(host));
    }
    return origins;
}

void TDomainList::UpdateOrigins() {
    // Readers keep the previous set until the new one is complete: no worker is refused
    // for a moment while the text is being replaced.
    std::lock_guard<TCriticalSection> guard(FListLock);
    RemoveBlankEntries();
    Publish(BuildOrigins());
}

bool TDomainList::Contains(const TOriginSet& origins, const std::string& value) {
    const std::string host = NormalizeDomain(value, false);
    for (const auto& o : origins)
        if (SameText(o, host)) return true;
    return false;
}

bool TDomainList::MatchesOrigins(const std::string& AOrigin, const std::string& AReferer) const {
    auto origins = Snapshot();
    auto trusted = [&](const std::string& value) { return value.empty() || Contains(*origins, value); };
    return trusted(AOrigin) && trusted(AReferer);
}

bool TDomainList::CheckDomain(const std::string& AOrigin, const std::string& AReferer) {
    return MatchesOrigins(AOrigin, AReferer);
}

std::string TDomainList::AllowOriginValue(const std::string& AOrigin) const {
    auto origins = Snapshot();
    if (AOrigin.empty() || origins->empty()) return "*";
    return Contains(*origins, AOrigin) ? AOrigin : "null";
}

std::string TDomainList::DelimitedText() const {
    std::lock_guard<TCriticalSection> guard(FListLock);
    return TStringList::DelimitedText();
}

void TDomainList::SetDelimitedText(std::string_view text) {
    std::lock_guard<TCriticalSection> guard(FListLock);
    TStringList::SetDelimitedText(text);
    UpdateOrigins();
}

bool TDomainList::ReplaceText(std::string_view text) {
    std::lock_guard<TCriticalSection> guard(FListLock);
    if (TStringList::DelimitedText() == text) return false;
    TStringList::SetDelimitedText(text);
    UpdateOrigins();
    return true;
}

int TDomainList::Add(std::string s) {
    std::lock_guard<TCriticalSection> guard(FListLock);
    return TStringList::Add(std::move(s));
}

int TDomainList::Count() const {
    std::lock_guard<TCriticalSection> guard(FListLock);
    return TStringList::Count();
}

std::vector<std::string> TDomainList::Entries() const {
    std::lock_guard<TCriticalSection> guard(FListLock);
    return TStringList::Items();
}

void TDomainList::AddTrusted(const std::string& ADomain) {
    std::lock_guard<TCriticalSection> guard(FListLock);
    TStringList::Add(ADomain);
    auto origins = std::make_shared<TOriginSet>(*Snapshot());
    origins->push_back(NormalizeDomain(ADomain, false));
    Publish(std::move(origins));
}

// ---- TDomainListPlus ----

TDomainListPlus::TDomainListPlus() = default;

bool TDomainListPlus::TryClaimPending(const std::string& ADomain) {
    std::lock_guard<TCriticalSection> guard(FPendingLock);
    if (FPending.IndexOf(ADomain) >= 0) return false;
    FPending.TStringList::Add(ADomain);
    return true;
}

void TDomainListPlus::RemovePending(const std::string& ADomain) {
    {
        std::lock_guard<TCriticalSection> guard(FPendingLock);
        int i = FPending.IndexOf(ADomain);
        if (i >= 0) FPending.TStringList::Delete(i);
    }
    FPendingCleared.notify_all();
}

bool TDomainListPlus::WaitPendingCleared(const std::string& ADomain) {
    std::unique_lock<TCriticalSection> guard(FPendingLock);
    if (FPending.IndexOf(ADomain) < 0) return true;
    ++FWaiting;
    while (FPending.IndexOf(ADomain) >= 0)
        FPendingCleared.wait_for(guard, std::chrono::milliseconds(FPendingPollMs));
    --FWaiting;
    return false;
}

bool TDomainListPlus::WaitUntilNotPending(const std::string& ADomain) { return WaitPendingCleared(ADomain); }

bool TDomainListPlus::Ask(const std::string& APage, const std::string& ADomain) {
    // The caller registered ADomain as pending; it is removed on every way out.
    struct Unclaim {
        TDomainListPlus* self;
        const std::string& domain;
        ~Unclaim() { self->RemovePending(domain); }
    } unclaim{this, ADomain};
    if (!OnConfirmDomain || !OnConfirmDomain(APage, ADomain)) return false;
    AddTrusted(ADomain);
    if (OnNewDomain) OnNewDomain();
    return true;
}

bool TDomainListPlus::ConfirmAndAdd(const std::string& APage, const std::string& ADomain) {
    {
        std::lock_guard<TCriticalSection> guard(FPendingLock);
        FPending.TStringList::Add(ADomain);
    }
    return Ask(APage, ADomain);
}

bool TDomainListPlus::CheckDomain(const std::string& AOrigin, const std::string& AReferer) {
    if (AOrigin.empty() && AReferer.empty()) return false;
    if (MatchesOrigins(AOrigin, AReferer) || !OnConfirmDomain) return MatchesOrigins(AOrigin, AReferer);
    const std::string& page = AReferer.empty() ? AOrigin : AReferer;
    const std::string domain = NormalizeDomain(page, true);

    // Looking the domain up and registering it as pending is one step, so that workers
    // asking about the same new domain at once put exactly one question; the others wait
    // for its answer.
    if (!TryClaimPending(domain)) {
        WaitPendingCleared(domain);
        return MatchesOrigins(AOrigin, AReferer);
    }
    // Someone may have trusted it between our first look and the claim.
    if (MatchesOrigins(AOrigin, AReferer)) {
        RemovePending(domain);
        return true;
    }
    bool result = Ask(page, domain);
    if (result)
        HostLog(this, "Trusted domain ADDED: " + domain, lkInfo);
    else
        HostLog(this, "Trusted domain CANCELED: " + domain, lkWarning);
    return result;
}

// ---- TDaemonSettings ----

void TDaemonSettings::InitPort(int value) {
    FPort.store(value);
    FDefaultPort.store(value);
}

void TDaemonSettings::LoadFrom(const TMemIniFile& Ini, const std::string& Section) {
    SetPort(Ini.ReadInteger(Section, "Port", DefaultPort()));
}

void TDaemonSettings::SaveTo(TMemIniFile& Ini, const std::string& Section) { Ini.WriteInteger(Section, "Port", Port()); }

std::string TDaemonSettings::AsText() const { return Format("Port: %d", Port()); }

bool TDaemonSettings::DiffersFromFile(const TMemIniFile& Ini, const std::string& Section) const {
    return Ini.ReadInteger(Section, "Port", DefaultPort()) != Port();
}

bool TDaemonSettings::DiffersFromDefault() const { return Port() != DefaultPort(); }

// ---- TCommonSettings ----

TCommonSettings::TCommonSettings() : FDomainList(std::make_unique<TDomainListPlus>()) {}

std::string TCommonSettings::Domains() const { return FDomainList->DelimitedText(); }

void TCommonSettings::SetDomains(const std::string& value) { FDomainList->ReplaceText(value); }

void TCommonSettings::LoadFrom(const TMemIniFile& Ini, const std::string& Section) {
    SetDomains(Ini.ReadString(Section, "Domains", ""));
}

void TCommonSettings::SaveTo(TMemIniFile& Ini, const std::string& Section) {
    Ini.WriteString(Section, "Domains", Domains());
}

std::string TCommonSettings::AsText() const { return "Domains: " + Domains(); }

bool TCommonSettings::DiffersFromFile(const TMemIniFile& Ini, const std::string& Section) const {
    return Ini.ReadString(Section, "Domains", "") != Domains();
}

bool TCommonSettings::DiffersFromDefault() const { return false; }

// ---- THostSettings ----

THostSettings::THostSettings() : THostSettings(TKXPluginLogerBase::GetIniFileName()) {}

THostSettings::THostSettings(const std::string& iniFileName)
    : FIniFile(std::make_unique<TMemIniFile>(iniFileName)),
      FServer_RPC(std::make_unique<TDaemonSettings>()),
      FServer_SSL(std::make_unique<TDaemonSettings>()),
      FServer(std::make_unique<TCommonSettings>()) {
    SetDefaults();
}

THostSettings::~THostSettings() {
    FServer_RPC.reset();
    FServer_SSL.reset();
    FServer.reset();
    FIniFile.reset();
}

std::string THostSettings::LogFileName() const {
    std::lock_guard<std::mutex> guard(FTextLock);
    return FLogFileName;
}

void THostSettings::SetLogFileName(const std::string& value) {
    std::lock_guard<std::mutex> guard(FTextLock);
    FLogFileName = value;
}

void THostSettings::Load() {
    std::lock_guard<TCriticalSection> guard(FFileLock);
    const TMemIniFile& ini = *FIniFile;
    FDevMode.store(ini.ReadBool("Server", "DevMode", false));
    SetIdleTime(ini.ReadInteger("Server", "IdleTime", DefaultIdleTime));
    SetLogFileName(ini.ReadString("Log", "FileName", ""));
    SetProxyMonitor(ini.ReadBool("Server", "ProxyMonitor", true));
    FServer_RPC->LoadFrom(ini, "Server_HTTP");
    FServer_SSL->LoadFrom(ini, "Server_HTTPS");
    FServer->LoadFrom(ini, "Server");
}

bool THostSettings::DiffersFromFile() const {
    std::lock_guard<TCriticalSection> guard(FFileLock);
    const TMemIniFile& ini = *FIniFile;
    return ini.ReadBool("Server", "DevMode", false) != DevMode() ||
           ini.ReadInteger("Server", "IdleTime", DefaultIdleTime) != IdleTime() ||
           ini.ReadString("Log", "FileName", "") != LogFileName() ||
           ini.ReadBool("Server", "ProxyMonitor", true) != ProxyMonitor() ||
           FServer_RPC->DiffersFromFile(ini, "Server_HTTP") || FServer_SSL->DiffersFromFile(ini, "Server_HTTPS") ||
           FServer->DiffersFromFile(ini, "Server");
}

void THostSettings::Save(uint8_t Groups) {
    std::lock_guard<TCriticalSection> guard(FFileLock);
    if (!DiffersFromFile()) return;
    // Work on a copy so that a failed write leaves the content as the file still holds it.
    TMemIniFile ini(*FIniFile);
    auto selected = [Groups](uint8_t bit) { return Groups == sgAll || (Groups & bit) != 0; };
    if (selected(sgHost)) {
        ini.WriteInteger("Server", "IdleTime", IdleTime());
        ini.WriteString("Log", "FileName", LogFileName());
        ini.WriteBool("Server", "ProxyMonitor", ProxyMonitor());
    }
    if (selected(sgHTTP)) FServer_RPC->SaveTo(ini, "Server_HTTP");
    if (selected(sgHTTPS)) FServer_SSL->SaveTo(ini, "Server_HTTPS");
    if (selected(sgCommon)) FServer->SaveTo(ini, "Server");
    ini.UpdateFile();
    *FIniFile = std::move(ini);
}

bool THostSettings::DiffersFromDefault() const {
    return IdleTime() != DefaultIdleTime || !ProxyMonitor() || FServer_RPC->DiffersFromDefault() ||
           FServer_SSL->DiffersFromDefault() || FServer->DiffersFromDefault();
}

void THostSettings::SetDefaults() {
    FDevMode.store(false);
    SetIdleTime(DefaultIdleTime);
    SetLogFileName("");
    SetProxyMonitor(true);
    FServer_RPC->InitPort(DefaultHTTPPort);
    FServer_SSL->InitPort(DefaultHTTPSPort);
}

void THostSettings::LogCurrentSettings() const {
    std::string text = Format("HTTP %s\r\nHTTPS %s\r\n%s\r\nIdle time: %d сек.\r\nProxy Monitor: %s",
                              FServer_RPC->AsText().c_str(), FServer_SSL->AsText().c_str(),
                              FServer->AsText().c_str(), IdleTime(), ProxyMonitor() ? "True" : "False");
    std::string logName = LogFileName();
    if (!logName.empty()) text += "\r\nLog File Name: " + logName;
    if (DevMode()) text += "\r\nDeveloper mode ON!";
    HostLog(this, "Current settings", lkInfo, text);
}
