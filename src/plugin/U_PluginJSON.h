#pragma once
// The records in which the host itself talks to the plugin: a command (which plugin module,
// which method, which parameters) and a result, turned into JSON and read back by mapping
// their published properties. Pages send their own JSON, which the host passes through
// unchanged; these records serve the host's own queries.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/Object.h"
#include "platform/Strings.h"

// A JSON value as the streamers pass it to the property hooks. Objects keep the order in
// which their members were added.
using TjsonValue = nlohmann::ordered_json;

class EjsonError : public Exception {
public:
    using Exception::Exception;
};

// A string list whose text has no line break after its last line.
class TjsonStringList : public TStringList {
public:
    TjsonStringList();
    std::string Text() const;
};

class TjsonPersistent;

// A published property: its name, its kind and how to reach it.
enum TjsonPropertyKind : uint8_t {
    jpkString,      // a string read with GetText, written with SetText (none: read-only)
    jpkStringList,  // a string list object owned by the record (GetList)
};

struct TjsonProperty {
    std::string Name;
    TjsonPropertyKind Kind = jpkString;
    std::function<std::string(const TjsonPersistent&)> GetText;
    std::function<void(TjsonPersistent&, const std::string&)> SetText;
    std::function<TStringList*(const TjsonPersistent&)> GetList;
};

// Published properties in declaration order, base class first.
using TjsonProperties = std::vector<TjsonProperty>;

// A string property of class T through its accessor pair.
template <class T>
TjsonProperty jsonStringProperty(std::string Name, const std::string& (T::*Get)() const,
                                 void (T::*Set)(const std::string&)) {
    TjsonProperty p;
    p.Name = std::move(Name);
    p.Kind = jpkString;
    p.GetText = [Get](const TjsonPersistent& o) { return (static_cast<const T&>(o).*Get)(); };
    if (Set) p.SetText = [Set](TjsonPersistent& o, const std::string& v) { (static_cast<T&>(o).*Set)(v); };
    return p;
}

// A string list property of class T, owned by the object.
template <class T>
TjsonProperty jsonStringListProperty(std::string Name, TStringList* (T::*Get)() const) {
    TjsonProperty p;
    p.Name = std::move(Name);
    p.Kind = jpkStringList;
    p.GetList = [Get](const TjsonPersistent& o) { return (static_cast<const T&>(o).*Get)(); };
    return p;
}

// A base table followed by the properties a derived class adds.
TjsonProperties jsonExtendProperties(const TjsonProperties& Base, std::initializer_list<TjsonProperty> Added);

// Hook of the object-to-JSON streamer: called for every property being written, with the
// value the streamer prepared, which the hook may replace.
class IjsonStreamProperty {
public:
    static constexpr const char* IID = "{0B2BBA73-9CDE-45CC-92E0-2FAAF0DE9C03}";
    virtual ~IjsonStreamProperty() = default;
    virtual void StreamProperty(const TObject* Sender, const TjsonPersistent& AObject, const TjsonProperty& Info,
                                TjsonValue& Res) = 0;
};

// Hook of the JSON-to-object destreamer: called for every property being read; a property
// the hook marks handled is not read by the destreamer itself.
class IjsonRestoreProperty {
public:
    static constexpr const char* IID = "{3C855271-535B-4426-954D-76BD205785DF}";
    virtual ~IjsonRestoreProperty() = default;
    virtual void RestoreProperty(const TObject* Sender, TjsonPersistent& AObject, const TjsonProperty& Info,
                                 const TjsonValue& Value, bool& Handled) = 0;
};

using TjsonStreamPropertyEvent = std::function<void(const TObject* Sender, const TjsonPersistent& AObject,
                                                    const TjsonProperty& Info, TjsonValue& Res)>;
using TjsonRestorePropertyEvent = std::function<void(const TObject* Sender, TjsonPersistent& AObject,
                                                     const TjsonProperty& Info, const TjsonValue& Value,
                                                     bool& Handled)>;

// Options of the streamer.
enum : uint32_t {
    jsoStringListAsArray = 1,  // a string list becomes an array of its lines, else its text
};

// Writes an object's published properties as one JSON object, in the compact layout with
// single blanks: { "A" : "x", "B" : [1, 2] }.
class TjsonStreamer : public TObject {
public:
    uint32_t Options() const { return FOptions; }
    void SetOptions(uint32_t Value) { FOptions = Value; }
    const TjsonStreamPropertyEvent& OnStreamProperty() const { return FOnStreamProperty; }
    void SetOnStreamProperty(TjsonStreamPropertyEvent Event) { FOnStreamProperty = std::move(Event); }

    TjsonValue ObjectToJSON(const TjsonPersistent& AObject) const;
    std::string ObjectToJSONString(const TjsonPersistent& AObject) const;

private:
    uint32_t FOptions = 0;
    TjsonStreamPropertyEvent FOnStreamProperty;
};

// Reads a JSON object into an object's published properties, members matched by name with
// exact case. Text that is not JSON, or not an object, raises EjsonError.
class TjsonDeStreamer : public TObject {
public:
    const TjsonRestorePropertyEvent& OnRestoreProperty() const { return FOnRestoreProperty; }
    void SetOnRestoreProperty(TjsonRestorePropertyEvent Event) { FOnRestoreProperty = std::move(Event); }

    void JSONToObject(const std::string& JSON, TjsonPersistent& AObject) const;

private:
    TjsonRestorePropertyEvent FOnRestoreProperty;
};

// The compact text of a value, with JSON escaping of strings; bytes from 0x80 up pass
// unchanged, so UTF-8 text stays as it is.
std::string jsonCompactText(const TjsonValue& Value);
// A string as a quoted JSON string.
std::string jsonQuote(const std::string& Text);

// Base of the JSON records.
class TjsonPersistent : public TObject {
public:
    TjsonPersistent();
    ~TjsonPersistent() override;
    TjsonPersistent(const TjsonPersistent&) = delete;
    TjsonPersistent& operator=(const TjsonPersistent&) = delete;

    // True when the text was read into the object; raises for text that is not a JSON object.
    virtual bool LoadFromJSON(const std::string& JSON);
    virtual std::string AsJSONString();

    // The published properties of the object's class.
    virtual const TjsonProperties& Properties() const;
    static const TjsonProperties& ClassProperties();

    TjsonStreamer& Streamer() const { return *FStreamer; }
    TjsonDeStreamer& DeStreamer() const { return *FDeStreamer; }

private:
    std::unique_ptr<TjsonStreamer> FStreamer;
    std::unique_ptr<TjsonDeStreamer> FDeStreamer;
};

class TPluginBase : public TjsonPersistent {
public:
    const std::string& ID() const { return FID; }
    void SetID(const std::string& Value) { FID = Value; }
    const std::string& Plugin() const { return FPlugin; }
    void SetPlugin(const std::string& Value) { FPlugin = Value; }
    const std::string& Method() const { return FMethod; }
    void SetMethod(const std::string& Value) { FMethod = Value; }

    const TjsonProperties& Properties() const override;
    static const TjsonProperties& ClassProperties();

private:
    std::string FID;
    std::string FPlugin;
    std::string FMethod;
};

class TPluginCommand : public TPluginBase, public IjsonStreamProperty {
public:
    TPluginCommand();
    // Each element of AParams becomes one line of Params, in order.
    TPluginCommand(const std::string& APlugin, const std::string& AMethod, const std::vector<std::string>& AParams,
                   const std::string& AID);
    ~TPluginCommand() override;

    // Lines "name=value" or a bare value; owned by the command.
    TStringList* Params() const { return FParams.get(); }

    const TjsonProperties& Properties() const override;
    static const TjsonProperties& ClassProperties();

    // Writes Params as an array of one-member objects; other properties as the streamer does.
    void StreamProperty(const TObject* Sender, const TjsonPersistent& AObject, const TjsonProperty& Info,
                        TjsonValue& Res) override;

private:
    std::unique_ptr<TjsonStringList> FParams;
};

class TPluginResult : public TPluginBase {
public:
    const std::string& Result() const { return FResult; }
    void SetResult(const std::string& Value) { FResult = Value; }

    const TjsonProperties& Properties() const override;
    static const TjsonProperties& ClassProperties();

private:
    std::string FResult;
};

// Sends one command of the host's own through PluginHost. True when the plugin answered
// and the reply was read as a result record: ID and Result then take the result's values;
// otherwise both stay as they were. A reply that is not a JSON object raises.
bool CallPlugin(const std::string& Plugin, const std::string& Method, const std::vector<std::string>& Params,
                std::string& ID, std::string& Result);
// The plugin's antifraud information; empty when the plugin could not be asked.
std::string GetAntifrodInfo();
