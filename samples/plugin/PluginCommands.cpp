#include "PluginCommands.h"

#include <algorithm>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/utsname.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#ifndef KEXO_PLUGIN_VERSION
#define KEXO_PLUGIN_VERSION "0.0.0.0"
#endif

namespace kexo_sample {
namespace {

using json = nlohmann::ordered_json;
// A command is read into sorted maps: the ordered form finds a member by walking all the
// earlier ones, which makes a command of many members cost the square of their number.
using TCommandJson = nlohmann::json;

// A failure that the caller should see as an error reply with this code.
struct TCommandError {
    std::string code;
    std::string message;
};

[[noreturn]] void Fail(std::string code, std::string message) {
    throw TCommandError{std::move(code), std::move(message)};
}

// The parts of a command that every reply echoes back.
struct TEcho {
    std::string id;
    std::string plugin;
    std::string method;
};

std::string Dump(const json& value) {
    // Strings come from parsed JSON or our own encoders, so they are valid UTF-8; replacing
    // instead of throwing keeps a stray byte from turning a reply into a failure.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Dump(const TCommandJson& value) {
    return value.dump(-1, ' ', false, TCommandJson::error_handler_t::replace);
}

std::string MemberText(const TCommandJson& command, const char* name, bool numbersAllowed) {
    auto it = command.find(name);
    if (it == command.end() || it->is_null()) return {};
    if (it->is_string()) return it->get<std::string>();
    if (numbersAllowed && it->is_number()) return Dump(*it);
    Fail("BadCommand", std::string("\"") + name + "\" must be a string");
}

// Params arrive as the host writes them, an array of one-member objects
// ([{"Data" : "abc"}, {"Format" : "hex"}]); a plain object is taken as well. The first
// occurrence of a name counts. Numbers are taken as their JSON text.
class TParams {
public:
    explicit TParams(const TCommandJson& command) {
        auto it = command.find("Params");
        if (it == command.end() || it->is_null()) return;
        if (it->is_object()) {
            for (auto& [name, value] : it->items()) Add(name, value);
        } else if (it->is_array()) {
            for (const auto& element : *it) {
                if (!element.is_object()) Fail("BadParams", "each element of \"Params\" must be an object");
                for (auto& [name, value] : element.items()) Add(name, value);
            }
        } else {
            Fail("BadParams", "\"Params\" must be an array or an object");
        }
    }

    std::optional<std::string> Get(const std::string& name) const {
        auto it = FItems.find(name);
        if (it == FItems.end()) return std::nullopt;
        return it->second;
    }

private:
    void Add(const std::string& name, const TCommandJson& value) {
        if (FItems.count(name)) return;
        if (value.is_string())
            FItems.emplace(name, value.get<std::string>());
        else if (value.is_number())
            FItems.emplace(name, Dump(value));
        else
            Fail("BadParams", "parameter \"" + name + "\" must be a string or a number");
    }

    // Sorted by name: a hash table could be made to collide by a hostile page.
    std::map<std::string, std::string> FItems;
};

std::string HexEncode(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string HexDecode(const std::string& text) {
    if (text.size() % 2 != 0) Fail("BadParams", "hex data must have an even number of digits");
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) Fail("BadParams", "hex data holds a character that is not a hex digit");
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::string Base64Encode(const unsigned char* data, size_t size) {
    std::string out(4 * ((size + 2) / 3), '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

// Standard alphabet with padding, no line breaks.
std::string Base64Decode(const std::string& text) {
    if (text.size() % 4 != 0) Fail("BadParams", "base64 data must be a multiple of 4 characters long");
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                  c == '/' || (c == '=' && i + 2 >= text.size());
        if (!ok) Fail("BadParams", "base64 data holds a character outside the alphabet");
    }
    if (text.size() >= 2 && text[text.size() - 2] == '=' && text.back() != '=')
        Fail("BadParams", "base64 padding is malformed");
    std::string out(text.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) Fail("BadParams", "base64 data cannot be decoded");
    // EVP_DecodeBlock counts the padding as zero bytes.
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
    out.resize(static_cast<size_t>(n) - padding);
    return out;
}

// "hex" (the default) or "base64".
std::string EncodeOutput(const TParams& params, const unsigned char* data, size_t size) {
    std::string format = params.Get("Format").value_or("hex");
    if (format == "hex") return HexEncode(data, size);
    if (format == "base64") return Base64Encode(data, size);
    Fail("BadParams", "\"Format\" must be \"hex\" or \"base64\"");
}

std::string Sha256(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        Fail("CryptoFailure", "SHA-256 is not available");
    return std::string(reinterpret_cast<char*>(digest), size);
}

std::string MethodGetVersion(const TParams&) { return PluginVersion(); }

std::string MethodHash(const TParams& params) {
    auto data = params.Get("Data");
    if (!data) Fail("BadParams", "\"Data\" is missing");
    std::string input = params.Get("DataFormat").value_or("text");
    std::string bytes;
    if (input == "text")
        bytes = *data;
    else if (input == "hex")
        bytes = HexDecode(*data);
    else if (input == "base64")
        bytes = Base64Decode(*data);
    else
        Fail("BadParams", "\"DataFormat\" must be \"text\", \"hex\" or \"base64\"");
    std::string digest = Sha256(bytes);
    return EncodeOutput(params, reinterpret_cast<const unsigned char*>(digest.data()), digest.size());
}

std::string MethodRandom(const TParams& params) {
    std::string countText = params.Get("Count").value_or("32");
    int count = 0;
    // Whole decimal number only: "16", not "16abc", "1e3" or "-1".
    bool digits = !countText.empty() && countText.size() <= 9 &&
                  countText.find_first_not_of("0123456789") == std::string::npos;
    if (digits) count = std::stoi(countText);
    if (!digits || count < 1 || count > kMaxRandomCount)
        Fail("BadParams", "\"Count\" must be a whole number from 1 to " + std::to_string(kMaxRandomCount));
    std::vector<unsigned char> bytes(static_cast<size_t>(count));
    if (RAND_bytes(bytes.data(), count) != 1) Fail("CryptoFailure", "the random generator failed");
    return EncodeOutput(params, bytes.data(), bytes.size());
}

std::string ReadFirstLine(const char* fileName) {
    std::ifstream in(fileName);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

// What a fraud check on the bank's side may compare between sessions. The machine id is
// only given as a hash salted with the plugin's name, so it cannot be matched with what
// other programs read from the same file.
std::string MethodAntifrodInfo(const TParams&) {
    json info;
    info["Plugin"] = "npKexoPlugin";
    info["Version"] = PluginVersion();
    struct utsname un {};
    if (uname(&un) == 0) {
        info["System"] = un.sysname;
        info["Release"] = un.release;
        info["Machine"] = un.machine;
    }
    std::string machineId = ReadFirstLine("/etc/machine-id");
    if (machineId.empty()) machineId = ReadFirstLine("/var/lib/dbus/machine-id");
    info["DeviceID"] = machineId.empty() ? std::string() : Sha256Hex("npKexoPlugin:" + machineId);
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    char stamp[32] = "";
    if (gmtime_r(&now, &utc)) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    info["Time"] = stamp;
    return Dump(info);
}

using TMethod = std::string (*)(const TParams&);

struct TMethodEntry {
    const char* name;
    TMethod run;
};

constexpr TMethodEntry kMethods[] = {
    {"GetVersion", MethodGetVersion},
    {"Hash", MethodHash},
    {"Random", MethodRandom},
    {"AntifrodInfo", MethodAntifrodInfo},
};

std::string Reply(const TEcho& echo, const char* key, json value) {
    json reply;
    reply["ID"] = echo.id;
    reply["Plugin"] = echo.plugin;
    reply["Method"] = echo.method;
    reply[key] = std::move(value);
    return Dump(reply);
}

std::string ErrorReply(const TEcho& echo, const TCommandError& error) {
    json detail;
    detail["Code"] = error.code;
    detail["Message"] = error.message;
    return Reply(echo, "Error", std::move(detail));
}

}  // namespace

const char* PluginVersion() { return KEXO_PLUGIN_VERSION; }

std::string Sha256Hex(std::string_view bytes) {
    std::string digest = Sha256(bytes);
    return HexEncode(reinterpret_cast<const unsigned char*>(digest.data()), digest.size());
}

// Deepest nesting of arrays and objects, outside strings. Checked before parsing: a command
// of nothing but brackets would otherwise cost seconds and hundreds of megabytes to refuse.
static size_t NestingDepth(std::string_view text) {
    size_t depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::string ExecuteCommand(std::string_view command) {
    TEcho echo;
    try {
        if (command.size() > kMaxCommandSize)
            Fail("CommandTooLarge", "the command is longer than " + std::to_string(kMaxCommandSize) + " bytes");
        if (NestingDepth(command) > kMaxNesting)
            Fail("BadCommand", "the command is nested deeper than " + std::to_string(kMaxNesting) + " levels");
        TCommandJson parsed = TCommandJson::parse(command.begin(), command.end(), nullptr, /*allow_exceptions=*/false);
        if (parsed.is_discarded()) Fail("BadCommand", "the command is not valid JSON");
        if (!parsed.is_object()) Fail("BadCommand", "the command must be a JSON object");
        // Echo what could be read even when a later member is wrong.
        echo.id = MemberText(parsed, "ID", true);
        echo.plugin = MemberText(parsed, "Plugin", false);
        echo.method = MemberText(parsed, "Method", false);
        if (echo.method.empty()) Fail("BadCommand", "\"Method\" is missing");
        TParams params(parsed);
        for (const auto& entry : kMethods)
            if (echo.method == entry.name) return Reply(echo, "Result", entry.run(params));
        Fail("UnknownMethod", "unknown method \"" + echo.method + "\"");
    } catch (const TCommandError& error) {
        return ErrorReply(echo, error);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        return ErrorReply(echo, TCommandError{"InternalError", e.what()});
    }
}

}  // namespace kexo_sample
