// The C exports of npKexoPlugin.so and the hand-over of a reply between the size query and
// the fetch of WS_ExecuteEx.
//
// The host makes both calls one after the other on the same thread, and many threads do so
// at once. So the reply of a size query is kept per thread, together with the command it
// answers: the fetch hands over exactly the bytes that were measured (a Random reply could
// not be computed a second time), no thread can see another's reply, and no lock is needed.
// A fetch that does not match the kept command is refused instead of guessed at.

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "PluginCommands.h"
#include "npKexoPlugin.h"

namespace {

struct TKeptReply {
    bool valid = false;
    std::string command;
    std::string reply;

    void Clear() {
        valid = false;
        std::string().swap(command);  // give the memory back, not just the length
        std::string().swap(reply);
    }
};

thread_local TKeptReply Kept;

// The command's bytes without the terminating zero that its size counts; a caller that
// forgot the zero still gets all the bytes it named and no byte beyond them.
std::string_view CommandBytes(const char* command, int32_t commandSize) {
    size_t size = static_cast<size_t>(commandSize);
    if (command[size - 1] == '\0') --size;
    return {command, size};
}

int32_t QuerySize(std::string_view command, int32_t* replySize) {
    Kept.Clear();
    std::string reply = kexo_sample::ExecuteCommand(command);
    if (reply.size() > static_cast<size_t>(INT32_MAX)) return WS_ERR_INTERNAL;
    Kept.command.assign(command);
    Kept.reply = std::move(reply);
    Kept.valid = true;
    *replySize = static_cast<int32_t>(Kept.reply.size());
    return 0;
}

int32_t Fetch(std::string_view command, char* buffer, int32_t* replySize) {
    if (!buffer) return WS_ERR_ARGUMENTS;
    if (!Kept.valid || Kept.command != command) return WS_ERR_NO_REPLY;
    if (*replySize < 0 || static_cast<size_t>(*replySize) < Kept.reply.size()) return WS_ERR_BUFFER;
    std::memcpy(buffer, Kept.reply.data(), Kept.reply.size());
    *replySize = static_cast<int32_t>(Kept.reply.size());
    Kept.Clear();
    return 0;
}

}  // namespace

extern "C" {

KEXO_PLUGIN_EXPORT int32_t WS_Initialize(void) {
    try {
        // Known answer for "abc": proves the crypto library is usable before any page relies on it.
        static const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
        return kexo_sample::Sha256Hex("abc") == kAbc ? 0 : WS_ERR_INTERNAL;
    } catch (...) {
        return WS_ERR_INTERNAL;
    }
}

KEXO_PLUGIN_EXPORT int32_t WS_Execute(const char* Command, int32_t CommandSize, char* Reply, int32_t ReplySize) {
    if (!Command || CommandSize < 1 || ReplySize < 0 || (ReplySize > 0 && !Reply)) return WS_ERR_ARGUMENTS;
    try {
        std::string reply = kexo_sample::ExecuteCommand(CommandBytes(Command, CommandSize));
        if (reply.size() > static_cast<size_t>(INT32_MAX)) return WS_ERR_INTERNAL;
        size_t copied = std::min(reply.size(), static_cast<size_t>(ReplySize));
        if (copied > 0) std::memcpy(Reply, reply.data(), copied);
        return static_cast<int32_t>(reply.size());
    } catch (...) {
        return WS_ERR_INTERNAL;
    }
}

KEXO_PLUGIN_EXPORT int32_t WS_ExecuteEx(const char* Command, int32_t CommandSize, char* Reply, int32_t* ReplySize,
                                        int32_t Mode) {
    if (!Command || CommandSize < 1 || !ReplySize) return WS_ERR_ARGUMENTS;
    try {
        std::string_view command = CommandBytes(Command, CommandSize);
        switch (Mode) {
            case WS_MODE_QUERY_SIZE:
                return QuerySize(command, ReplySize);
            case WS_MODE_FETCH:
                return Fetch(command, Reply, ReplySize);
            default:
                return WS_ERR_ARGUMENTS;
        }
    } catch (...) {
        // Nothing may leave through the C boundary; out of memory is the only way here.
        Kept.Clear();
        return WS_ERR_INTERNAL;
    }
}

KEXO_PLUGIN_EXPORT int32_t WS_Shutdown(void) {
    Kept.Clear();
    return 0;
}

}  // extern "C"
