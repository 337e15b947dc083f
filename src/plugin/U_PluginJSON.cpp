#include "plugin/U_PluginJSON.h"

#include <nlohmann/json.hpp>

#include "log/U_LogFile.h"
#include "plugin/U_PluginHost.h"

// ---- JSON text ----

namespace {

void AppendQuoted(std::string& out, const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += digits[byte >> 4];
                    out += digits[byte & 15];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void AppendCompact(std::string& out, const TjsonValue& value) {
    switch (value.type()) {
        case TjsonValue::value_t::null:
            out += "null";
            break;
        case TjsonValue::value_t::boolean:
            out += value.get<bool>() ? "true" : "false";
            break;
        case TjsonValue::value_t::number_integer:
        case TjsonValue::value_t::number_unsigned:
        case TjsonValue::value_t::number_float:
            out += value.dump();
            break;
        case TjsonValue::value_t::string:
            AppendQuoted(out, value.get_ref<const std::string&>());
            break;
        case TjsonValue::value_t::array: {
            out += '[';
            bool first = true;
            for (const auto& element : value) {
                if (!first) out += ", ";
                first = false;
                AppendCompact(out, element);
            }
            out += ']';
            break;
        }
        case TjsonValue::value_t::object: {
            if (value.empty()) {
                out += "{}";
                break;
            }
            out += "{ ";
            bool first = true;
            for (const auto& [name, member] : value.items()) {
                if (!first) out += ", ";
                first = false;
                AppendQuoted(out, name);
                out += " : ";
                AppendCompact(out, member);
            }
            out += " }";
            break;
        }
        default:
            throw EjsonError("A JSON value of this type cannot be written as text");
    }
}

// A scalar or structured value as the text a string property takes: strings as they are,
// anything else as its JSON text, so nothing the plugin sent is lost.
std::string ValueAsText(const TjsonValue& value) {
    if (value.is_string()) return value.get<std::string>();
    return jsonCompactText(value);
}

}  // namespace

std::string jsonCompactText(const TjsonValue& Value) {
    std::string out;
    AppendCompact(out, Value);
    return out;
}

std::string jsonQuote(const std::string& Text) {
    std::string out;
    out.reserve(Text.size() + 2);
    AppendQuoted(out, Text);
    return out;
}

TjsonProperties jsonExtendProperties(const TjsonProperties& Base, std::initializer_list<TjsonProperty> Added) {
    TjsonProperties result = Base;
    result.insert(result.end(), Added.begin(), Added.end());
    return result;
}

// ---- TjsonStringList ----

TjsonStringList::TjsonStringList() = default;

std::string TjsonStringList::Text() const {
    std::string text = TStringList::Text();
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
    return text;
}

// ---- streamers ----

TjsonValue TjsonStreamer::ObjectToJSON(const TjsonPersistent& AObject) const {
    TjsonValue result = TjsonValue::object();
    for (const TjsonProperty& info : AObject.Properties()) {
        TjsonValue value;
        if (info.Kind == jpkStringList) {
            const TStringList* list = info.GetList ? info.GetList(AObject) : nullptr;
            if (!list) {
                value = nullptr;
            } else if (FOptions & jsoStringListAsArray) {
                value = TjsonValue::array();
                for (const std::string& line : *list) value.push_back(line);
            } else if (auto* jsonList = dynamic_cast<const TjsonStringList*>(list)) {
                value = jsonList->Text();
            } else {
                value = list->Text();
            }
        } else {
            value = info.GetText ? info.GetText(AObject) : std::string();
        }
        if (FOnStreamProperty) FOnStreamProperty(this, AObject, info, value);
        result[info.Name] = std::move(value);
    }
    return result;
}

std::string TjsonStreamer::ObjectToJSONString(const TjsonPersistent& AObject) const {
    return jsonCompactText(ObjectToJSON(AObject));
}

void TjsonDeStreamer::JSONToObject(const std::string& JSON, TjsonPersistent& AObject) const {
    TjsonValue data;
    try {
        data = TjsonValue::parse(JSON);
    } catch (const TjsonValue::exception& e) {
        throw EjsonError(std::string("Invalid JSON: ") + e.what());
    }
    if (!data.is_object()) throw EjsonError("A JSON object was expected");
    for (const TjsonProperty& info : AObject.Properties()) {
        auto it = data.find(info.Name);
        if (it == data.end()) continue;
        const TjsonValue& value = *it;
        bool handled = false;
        if (FOnRestoreProperty) FOnRestoreProperty(this, AObject, info, value, handled);
        if (handled || value.is_null()) continue;
        if (info.Kind == jpkString) {
            if (info.SetText) info.SetText(AObject, ValueAsText(value));
            continue;
        }
        TStringList* list = info.GetList ? info.GetList(AObject) : nullptr;
        if (!list) continue;
        if (value.is_array()) {
            // The inverse of the command's own form: one-member objects become name=value.
            list->Clear();
            for (const auto& element : value) {
                if (!element.is_object()) {
                    list->Add(ValueAsText(element));
                    continue;
                }
                for (const auto& [name, member] : element.items()) {
                    std::string text = ValueAsText(member);
                    list->Add(text.empty() ? name : name + "=" + text);
                }
            }
        } else if (value.is_string()) {
            list->SetText(value.get<std::string>());
        }
    }
}

// ---- TjsonPersistent ----

TjsonPersistent::TjsonPersistent()
    : FStreamer(std::make_unique<TjsonStreamer>()), FDeStreamer(std::make_unique<TjsonDeStreamer>()) {
    FStreamer->SetOptions(jsoStringListAsArray);
    // While this constructor runs the object is not yet of its final class, so whether it
    // implements a hook is asked when a property is actually written or read.
    FStreamer->SetOnStreamProperty(
        [this](const TObject* Sender, const TjsonPersistent& AObject, const TjsonProperty& Info, TjsonValue& Res) {
            if (auto* hook = dynamic_cast<IjsonStreamProperty*>(this)) hook->StreamProperty(Sender, AObject, Info, Res);
        });
    FDeStreamer->SetOnRestoreProperty([this](const TObject* Sender, TjsonPersistent& AObject,
                                             const TjsonProperty& Info, const TjsonValue& Value, bool& Handled) {
        if (auto* hook = dynamic_cast<IjsonRestoreProperty*>(this))
            hook->RestoreProperty(Sender, AObject, Info, Value, Handled);
    });
}

TjsonPersistent::~TjsonPersistent() {
    FStreamer.reset();
    FDeStreamer.reset();
}

const TjsonProperties& TjsonPersistent::ClassProperties() {
    static const TjsonProperties properties;
    return properties;
}

const TjsonProperties& TjsonPersistent::Properties() const { return ClassProperties(); }

std::string TjsonPersistent::AsJSONString() {
    std::string result;
    THostLoger* log = GetHostLog();
    if (log) log->TraceStart(this, "AsJSONString");
    struct TEndTrace {
        THostLoger* Log;
        const TObject* Self;
        const std::string& Text;
        ~TEndTrace() {
            try {
                if (Log) Log->TraceResult(Self, "AsJSONString", TVarRec(Text));
            } catch (...) {
            }
        }
    } endTrace{log, this, result};
    result = FStreamer->ObjectToJSONString(*this);
    return result;
}

bool TjsonPersistent::LoadFromJSON(const std::string& JSON) {
    bool result = false;
    THostLoger* log = GetHostLog();
    if (log) log->TraceStart(this, "LoadFromJSON");
    struct TEndTrace {
        THostLoger* Log;
        const TObject* Self;
        const bool& Result;
        ~TEndTrace() {
            try {
                if (Log) Log->TraceResult(Self, "LoadFromJSON", TVarRec(Result));
            } catch (...) {
            }
        }
    } endTrace{log, this, result};
    FDeStreamer->JSONToObject(JSON, *this);
    result = true;
    return result;
}

// ---- records ----

const TjsonProperties& TPluginBase::ClassProperties() {
    static const TjsonProperties properties = jsonExtendProperties(
        TjsonPersistent::ClassProperties(),
        {jsonStringProperty<TPluginBase>("ID", &TPluginBase::ID, &TPluginBase::SetID),
         jsonStringProperty<TPluginBase>("Plugin", &TPluginBase::Plugin, &TPluginBase::SetPlugin),
         jsonStringProperty<TPluginBase>("Method", &TPluginBase::Method, &TPluginBase::SetMethod)});
    return properties;
}

const TjsonProperties& TPluginBase::Properties() const { return ClassProperties(); }

TPluginCommand::TPluginCommand() : FParams(std::make_unique<TjsonStringList>()) {}

TPluginCommand::TPluginCommand(const std::string& APlugin, const std::string& AMethod,
                               const std::vector<std::string>& AParams, const std::string& AID)
    : TPluginCommand() {
    SetPlugin(APlugin);
    SetMethod(AMethod);
    for (const std::string& line : AParams) FParams->Add(line);
    SetID(AID);
}

TPluginCommand::~TPluginCommand() = default;

const TjsonProperties& TPluginCommand::ClassProperties() {
    static const TjsonProperties properties = jsonExtendProperties(
        TPluginBase::ClassProperties(), {jsonStringListProperty<TPluginCommand>("Params", &TPluginCommand::Params)});
    return properties;
}

const TjsonProperties& TPluginCommand::Properties() const { return ClassProperties(); }

void TPluginCommand::StreamProperty(const TObject* Sender, const TjsonPersistent& AObject, const TjsonProperty& Info,
                                    TjsonValue& Res) {
    if (Info.Name != "Params") return;
    Res = TjsonValue::array();
    for (const std::string& line : *FParams) {
        const size_t eq = line.find('=');
        std::string name, value;
        if (eq == std::string::npos) {
            name = line;
        } else if (eq == 0) {
            name = line.substr(1);
        } else {
            name = line.substr(0, eq);
            value = line.substr(eq + 1);
        }
        TjsonValue element = TjsonValue::object();
        element[name] = value;
        Res.push_back(std::move(element));
    }
}

const TjsonProperties& TPluginResult::ClassProperties() {
    static const TjsonProperties properties = jsonExtendProperties(
        TPluginBase::ClassProperties(),
        {jsonStringProperty<TPluginResult>("Result", &TPluginResult::Result, &TPluginResult::SetResult)});
    return properties;
}

const TjsonProperties& TPluginResult::Properties() const { return ClassProperties(); }

// ---- queries ----

bool CallPlugin(const std::string& Plugin, const std::string& Method, const std::vector<std::string>& Params,
                std::string& ID, std::string& Result) {
    TPluginCommand command(Plugin, Method, Params, ID);
    const std::string text = command.AsJSONString();
    TPluginHost* host = PluginHost;
    if (!host) return false;
    std::string reply;
    if (!host->ProcessCommand(text, reply)) return false;
    TPluginResult result;
    if (!result.LoadFromJSON(reply)) return false;
    ID = result.ID();
    Result = result.Result();
    return true;
}

std::string GetAntifrodInfo() {
    std::string id;
    std::string result;
    if (CallPlugin("VOVidez", "AntifrodInfo", {}, id, result)) return result;
    return {};
}
