#pragma once
// The command vocabulary of the demo plugin, independent of how the bytes reach it.

#include <cstddef>
#include <string>
#include <string_view>

namespace kexo_sample {

inline constexpr size_t kMaxCommandSize = 16u * 1024u * 1024u;  // bytes of command JSON
inline constexpr size_t kMaxNesting = 64;                        // levels of arrays and objects
inline constexpr int kMaxRandomCount = 1024;                     // bytes per Random call

// The version this plugin reports; the build passes the one in the file's version record.
const char* PluginVersion();

// Runs one command (JSON text, without a terminating zero) and gives the reply JSON.
// Every problem with the command becomes an error reply; only a lack of memory escapes.
std::string ExecuteCommand(std::string_view command);

// SHA-256 of bytes, lower-case hex; used by the self-test and the vocabulary.
std::string Sha256Hex(std::string_view bytes);

}  // namespace kexo_sample
