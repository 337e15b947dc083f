#pragma once
// Dynamic library manager: loads libraries by name, fills the callers' procedure variables
// with the exports they ask for, shares one loaded library between several users with a use
// count, and sets every bound variable back to none when the library goes away. It writes
// no log of its own: every step is reported through OnError and OnLog.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/DynLib.h"
#include "platform/Object.h"
#include "platform/Strings.h"
#include "platform/Sync.h"

// Names of the wanted exports.
using TProcNames = std::vector<std::string>;
// Element i is the address of the caller's procedure variable for name i (any function
// pointer type, passed as reinterpret_cast<void**>(&Variable)). Binding writes the export
// or none into each of these variables.
//
// A library keeps its own copy of every points array it bound, so a caller's array may go
// away after the call; the variables it names must not (see FinalizeLibUtils). Two arrays
// naming the same variables in the same order count as the same array.
using TProcPoints = std::vector<void**>;
// One folder per line, searched in line order.
using TPathList = TStringList;

// Sets every variable named by Points to none.
void ClearPoints(const TProcPoints& Points);
// True when every variable named by Points is set (an empty slot counts as unset).
bool AllAssigned(const TProcPoints& Points);
// "(" + code + ") " + the system's text for it; 0 stands for the calling thread's last
// failure in the library layer (whose text names the file and the reason).
std::string LastErrorText(int Code);

class ELibException : public Exception {
public:
    using Exception::Exception;
};

// Sender, Text, details.
using TLibEvent = std::function<void(const TObject* Sender, const std::string& Text, const std::string& Details)>;

using TPointsList = std::vector<TProcPoints>;

// One loaded module.
class TKXDynLibrary : public TObject {
public:
    // Expands %NAME% references in Name from the environment, then loads the module.
    TKXDynLibrary(const std::string& Name, const TPathList* Paths);
    ~TKXDynLibrary() override;
    TKXDynLibrary(const TKXDynLibrary&) = delete;
    TKXDynLibrary& operator=(const TKXDynLibrary&) = delete;

    // Tries the name as written (when it has a folder), then each search folder, then the
    // bare file name by the system's search (the program's own folder first).
    bool DoLoadLibrary(const TPathList* Paths);
    // Binds Names into Points; the found exports stay bound even when some are missing.
    bool LoadProcedures(const TProcPoints& Points, const TProcNames& Names);
    // Forgets the first registration of Points; false when there is none.
    bool RemovePoints(const TProcPoints& Points);
    // Sets every registered variable to none and releases the module.
    void DoUnloadLibrary();

    TDynLibHandle Handle() const { return FHandle; }
    bool Loaded() const { return FLoaded; }
    const std::string& Path() const { return FPath; }
    const std::string& Name() const { return FName; }
    // The part of Name after its last path delimiter.
    std::string FileName() const;
    int RefCount() const { return FRefCount; }
    void SetRefCount(int Value) { FRefCount = Value; }
    const TPointsList& Points() const { return FPoints; }

private:
    TDynLibHandle FHandle = nullptr;
    bool FLoaded = false;
    std::string FPath;
    std::string FName;
    int FRefCount = 0;
    TPointsList FPoints;
};

// The libraries of a manager; deleting an entry frees (and so unloads) the library.
class TKXLibList : public TObject {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TKXDynLibrary* Items(int Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
    void Add(std::unique_ptr<TKXDynLibrary> Library) { FItems.push_back(std::move(Library)); }
    int IndexOf(const TKXDynLibrary* Library) const;
    void Delete(int Index);
    // Frees the entries last to first.
    void Clear();
    ~TKXLibList() override;

private:
    std::vector<std::unique_ptr<TKXDynLibrary>> FItems;
};

class TKXLibManager : public TObject {
public:
    // A manager without a list of its own: it works on the global manager's libraries.
    TKXLibManager();
    // The owning form: the manager keeps its own list of libraries.
    //   TKXLibManager manager(TKXLibManager::Owning);
    struct TOwning {};
    static constexpr TOwning Owning{};
    explicit TKXLibManager(TOwning);
    ~TKXLibManager() override;
    TKXLibManager(const TKXLibManager&) = delete;
    TKXLibManager& operator=(const TKXLibManager&) = delete;

    // Load under LibLock: find or create the library, count the use, bind Points.
    // Paths: search folders, or none for PathList.
    bool Load(const std::string& Name, const TProcPoints& Points, const TProcNames& Names,
              const TPathList* Paths = nullptr);
    // Unload under LibLock: one use less; the library goes at the last one.
    bool Unload(const std::string& Name);
    // The first listed library with the file name of Name (exact case); none otherwise.
    TKXDynLibrary* FindLibrary(const std::string& Name);

    // The manager's own list, or the global manager's list when it has none.
    TKXLibList& Libraries();
    TPathList& PathList();
    bool OwnsList() const { return FLibList != nullptr; }

    const TLibEvent& OnError() const { return FOnError; }
    void SetOnError(TLibEvent Event) { FOnError = std::move(Event); }
    const TLibEvent& OnLog() const { return FOnLog; }
    void SetOnLog(TLibEvent Event) { FOnLog = std::move(Event); }
    bool RaiseErrors() const { return FRaiseErrors; }
    void SetRaiseErrors(bool Value) { FRaiseErrors = Value; }
    bool Destroying() const { return FDestroying; }

    // Steps of Load and Unload.
    TKXDynLibrary* AcquireLibrary(const std::string& Name, const TPathList* Paths);
    bool ReleaseLibrary(TKXDynLibrary* Library);
    bool RemoveLibrary(TKXDynLibrary* Library);
    TKXDynLibrary* CreateLibrary(const std::string& Name, const TPathList* Paths);
    bool BindProcedures(TKXDynLibrary* Library, const TProcPoints& Points, const TProcNames& Names);
    // Removes the registration of Points from every library, so that releasing a library
    // later leaves those variables alone. True when any registration was removed.
    bool ForgetPoints(const TProcPoints& Points);

    // Reports; the sender defaults to this manager. DoError raises ELibException when
    // RaiseErrors is on and the manager is not being destroyed.
    void DoError(const std::string& Text, const std::string& Details = {}, const TObject* Sender = nullptr);
    void DoLog(const std::string& Text, const std::string& Details = {}, const TObject* Sender = nullptr);

private:
    std::unique_ptr<TPathList> FPathList;
    std::unique_ptr<TKXLibList> FLibList;
    TProcPoints FPoints;  // remembered by a manager without its own list
    TLibEvent FOnError;
    TLibEvent FOnLog;
    bool FRaiseErrors = false;
    bool FDestroying = false;
};

// The global manager (with its own list) and the process-wide lock of loading and
// releasing; both are created on first use.
TKXLibManager* LibManager();
TCriticalSection& LibLock();

bool LoadDynLibrary(const std::string& Name, const TProcPoints& Points, const TProcNames& Names,
                    const TPathList* Paths = nullptr);
bool UnloadDynLibrary(const std::string& Name);

// Unit finalisation, called by the program entry at the very end: frees the global
// manager, which releases every library still loaded and sets every variable bound from
// them to none, so those variables must still exist. Calling it again does nothing; a
// program that never calls it leaves its libraries to the end of the process. A later
// use of LibManager starts a new manager.
void FinalizeLibUtils();
