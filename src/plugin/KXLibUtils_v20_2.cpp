#include "plugin/KXLibUtils_v20_2.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/Files.h"
#include "system/KXSysTools_v20_2.h"

namespace {

// The global manager. Deliberately a plain pointer that nothing frees at process exit:
// releasing the libraries writes none into their users' variables, which static
// destruction may already have taken away. FinalizeLibUtils frees it at the right time.
TKXLibManager*& GlobalSlot() {
    static TKXLibManager* manager = nullptr;
    return manager;
}

TKXLibManager* GlobalIfAny() {
    std::lock_guard<TCriticalSection> hold(LibLock());
    return GlobalSlot();
}

}  // namespace

// ---- unit functions ----

void ClearPoints(const TProcPoints& Points) {
    for (void** target : Points)
        if (target) *target = nullptr;
}

bool AllAssigned(const TProcPoints& Points) {
    return std::all_of(Points.begin(), Points.end(), [](void** target) { return target && *target; });
}

std::string LastErrorText(int Code) {
    int code = Code != 0 ? Code : DynLibLastErrorCode();
    std::string text = Code != 0 ? SysErrorMessage(Code) : DynLibErrorMessage(0);
    return "(" + std::to_string(code) + ") " + text;
}

TCriticalSection& LibLock() {
    // Never freed: a thread still loading at process end must not find it gone.
    static TCriticalSection* const lock = new TCriticalSection;
    return *lock;
}

TKXLibManager* LibManager() {
    std::lock_guard<TCriticalSection> hold(LibLock());
    TKXLibManager*& manager = GlobalSlot();
    if (!manager) manager = new TKXLibManager(TKXLibManager::Owning);
    return manager;
}

bool LoadDynLibrary(const std::string& Name, const TProcPoints& Points, const TProcNames& Names,
                    const TPathList* Paths) {
    return LibManager()->Load(Name, Points, Names, Paths);
}

bool UnloadDynLibrary(const std::string& Name) { return LibManager()->Unload(Name); }

void FinalizeLibUtils() {
    std::lock_guard<TCriticalSection> hold(LibLock());
    TKXLibManager* manager = std::exchange(GlobalSlot(), nullptr);
    delete manager;
}

// ---- TKXDynLibrary ----

TKXDynLibrary::TKXDynLibrary(const std::string& Name, const TPathList* Paths) : FName(ExpandEnvironment(Name)) {
    FLoaded = DoLoadLibrary(Paths);
}

TKXDynLibrary::~TKXDynLibrary() {
    DoUnloadLibrary();
    FPoints.clear();
}

std::string TKXDynLibrary::FileName() const { return ExtractFileName(FName); }

bool TKXDynLibrary::DoLoadLibrary(const TPathList* Paths) {
    FHandle = nullptr;
    FPath.clear();
    const std::string fileName = FileName();
    if (fileName.empty()) {
        LibManager()->DoError("Empty library name!", {}, this);
        return false;
    }
    // The loader of this platform does not raise, but a failing attempt must never keep
    // the next one from running.
    auto attempt = [this](const std::string& candidate) {
        try {
            FHandle = DynLibOpen(candidate);
            if (FHandle) FPath = candidate;
        } catch (const std::exception& e) {
            FHandle = nullptr;
            LibManager()->DoLog("TKXDynLibrary.DoLoadLibrary: Exception!",
                                "ClassName=" + ExceptionClassName(e) + "\r\nMessage=" + ExceptionMessage(e) +
                                    "\r\nError=" + LastErrorText(0),
                                this);
        }
        return FHandle != nullptr;
    };

    if (fileName != FName && attempt(FName)) return true;
    if (Paths) {
        for (const std::string& folder : *Paths) {
            // An empty line names no folder; it must not turn into the root folder.
            if (folder.empty()) continue;
            std::string candidate = folder;
            if (!IsPathDelimiter(candidate.back())) candidate += PathDelim;
            if (attempt(candidate + fileName)) return true;
        }
    }
    FHandle = DynLibOpen(fileName);
    if (FHandle) FPath = DynLibPath(FHandle);
    return FHandle != nullptr;
}

bool TKXDynLibrary::LoadProcedures(const TProcPoints& Points, const TProcNames& Names) {
    if (!FHandle) {
        LibManager()->DoError("Library " + FileName() + " not loaded!", {}, this);
        return false;
    }
    if (Points.size() != Names.size()) {
        LibManager()->DoError(FileName() + ": Names and procedures count do not match!", {}, this);
        return false;
    }
    if (Points.empty()) return true;
    ClearPoints(Points);
    for (size_t i = 0; i < Points.size(); ++i)
        if (Points[i]) *Points[i] = DynLibSymbol(FHandle, Names[i]);
    // Registered even when some exports are missing: the ones found are bound and must be
    // cleared when the library goes.
    FPoints.push_back(Points);
    return AllAssigned(Points);
}

bool TKXDynLibrary::RemovePoints(const TProcPoints& Points) {
    auto it = std::find(FPoints.begin(), FPoints.end(), Points);
    if (it == FPoints.end()) return false;
    FPoints.erase(it);
    return true;
}

void TKXDynLibrary::DoUnloadLibrary() {
    if (!FHandle) return;
    for (const TProcPoints& points : FPoints) ClearPoints(points);
    try {
        DynLibClose(FHandle);
    } catch (...) {
        // The variables are cleared already; a refusing loader changes nothing for them.
    }
    FHandle = nullptr;
}

// ---- TKXLibList ----

int TKXLibList::IndexOf(const TKXDynLibrary* Library) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == Library) return static_cast<int>(i);
    return -1;
}

void TKXLibList::Delete(int Index) {
    // Out of the list first, then freed: the library's release never sees itself listed.
    std::unique_ptr<TKXDynLibrary> library = std::move(FItems.at(static_cast<size_t>(Index)));
    FItems.erase(FItems.begin() + Index);
    library.reset();
}

void TKXLibList::Clear() {
    while (!FItems.empty()) Delete(Count() - 1);
}

TKXLibList::~TKXLibList() { Clear(); }

// ---- TKXLibManager ----

TKXLibManager::TKXLibManager() : FRaiseErrors(false), FDestroying(false) {}

TKXLibManager::TKXLibManager(TOwning) : TKXLibManager() { FLibList = std::make_unique<TKXLibList>(); }

TKXLibManager::~TKXLibManager() {
    std::lock_guard<TCriticalSection> hold(LibLock());
    FDestroying = true;
    try {
        if (!OwnsList() && !FPoints.empty()) {
            // Only the global list can hold them; when it is gone there is nothing to forget.
            if (TKXLibManager* global = GlobalIfAny()) {
                TKXLibList& list = global->Libraries();
                for (int i = 0; i < list.Count(); ++i) list.Items(i)->RemovePoints(FPoints);
            }
        }
        FLibList.reset();
    } catch (...) {
    }
    FPathList.reset();
}

TKXLibList& TKXLibManager::Libraries() {
    if (FLibList) return *FLibList;
    return LibManager()->Libraries();
}

TPathList& TKXLibManager::PathList() {
    std::lock_guard<TCriticalSection> hold(LibLock());
    if (!FPathList) FPathList = std::make_unique<TPathList>();
    return *FPathList;
}

bool TKXLibManager::Load(const std::string& Name, const TProcPoints& Points, const TProcNames& Names,
                         const TPathList* Paths) {
    std::lock_guard<TCriticalSection> hold(LibLock());
    TKXDynLibrary* library = AcquireLibrary(Name, Paths);
    return BindProcedures(library, Points, Names);
}

bool TKXLibManager::Unload(const std::string& Name) {
    std::lock_guard<TCriticalSection> hold(LibLock());
    return ReleaseLibrary(FindLibrary(Name));
}

TKXDynLibrary* TKXLibManager::FindLibrary(const std::string& Name) {
    // Under the lock as well: the status text asks from connection threads while the main
    // thread may be releasing. The name is expanded like a new library's, so a name whose
    // file part is an environment reference finds what it loaded.
    std::lock_guard<TCriticalSection> hold(LibLock());
    const std::string fileName = ExtractFileName(ExpandEnvironment(Name));
    TKXLibList& list = Libraries();
    for (int i = 0; i < list.Count(); ++i)
        if (list.Items(i)->FileName() == fileName) return list.Items(i);
    return nullptr;
}

TKXDynLibrary* TKXLibManager::AcquireLibrary(const std::string& Name, const TPathList* Paths) {
    TKXDynLibrary* library = FindLibrary(Name);
    if (!library) library = CreateLibrary(Name, Paths);
    if (library) library->SetRefCount(library->RefCount() + 1);
    return library;
}

bool TKXLibManager::ReleaseLibrary(TKXDynLibrary* Library) {
    if (!Library) return false;
    Library->SetRefCount(Library->RefCount() - 1);
    if (Library->RefCount() > 0) return true;
    return RemoveLibrary(Library);
}

bool TKXLibManager::RemoveLibrary(TKXDynLibrary* Library) {
    const std::string fileName = Library->FileName();
    TKXLibList& list = Libraries();
    int index = list.IndexOf(Library);
    if (index < 0) {
        DoError("Failed to unload " + fileName, LastErrorText(0));
        return false;
    }
    list.Delete(index);
    DoLog("Unloaded library " + fileName);
    return true;
}

TKXDynLibrary* TKXLibManager::CreateLibrary(const std::string& Name, const TPathList* Paths) {
    if (!Paths) Paths = &PathList();
    std::unique_ptr<TKXDynLibrary> library;
    std::exception_ptr failure;
    try {
        library = std::make_unique<TKXDynLibrary>(Name, Paths);
    } catch (...) {
        failure = std::current_exception();
    }
    if (library && library->Loaded()) {
        TKXDynLibrary* result = library.get();
        Libraries().Add(std::move(library));
        DoLog("Library loaded: " + result->FileName(), result->Path());
        return result;
    }
    // Taken before the library's release can overwrite the loader's last error.
    const std::string details = LastErrorText(0);
    library.reset();
    DoError("Failed to load library " + Name, details);
    if (failure) std::rethrow_exception(failure);
    return nullptr;
}

bool TKXLibManager::BindProcedures(TKXDynLibrary* Library, const TProcPoints& Points, const TProcNames& Names) {
    if (!Library) return false;
    bool result = Library->LoadProcedures(Points, Names);
    if (result && !OwnsList()) FPoints = Points;
    if (!result) DoError("Failed to load procedures from " + Library->FileName());
    return result;
}

bool TKXLibManager::ForgetPoints(const TProcPoints& Points) {
    std::lock_guard<TCriticalSection> hold(LibLock());
    bool removed = false;
    TKXLibList& list = Libraries();
    for (int i = 0; i < list.Count(); ++i) removed = list.Items(i)->RemovePoints(Points) || removed;
    return removed;
}

void TKXLibManager::DoError(const std::string& Text, const std::string& Details, const TObject* Sender) {
    if (!Sender) Sender = this;
    if (FOnError) {
        FOnError(Sender, Text, Details);
    } else if (!OwnsList()) {
        TKXLibManager* global = GlobalIfAny();
        if (global && global->OnError()) global->OnError()(Sender, Text, Details);
    }
    if (FRaiseErrors && !FDestroying)
        throw ELibException(Sender->ClassName() + ": " + Text + " (" + Details + ")");
}

void TKXLibManager::DoLog(const std::string& Text, const std::string& Details, const TObject* Sender) {
    if (!Sender) Sender = this;
    if (FOnLog) {
        FOnLog(Sender, Text, Details);
    } else if (!OwnsList()) {
        if (TKXLibManager* global = GlobalIfAny()) global->DoLog(Text, Details, Sender);
    }
}
