// The plugin bridge's costs with the host log off: one command through the demo plugin
// (size query and fetch, as a connection thread does it), the same from several threads at
// once, and the host's own JSON records written and read.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "plugin/U_PluginHost.h"
#include "plugin/U_PluginJSON.h"

#ifndef KEXO_SAMPLE_PLUGIN_DIR
#error "KEXO_SAMPLE_PLUGIN_DIR names the folder of the demo plugin (bench/CMakeLists.txt)"
#endif

namespace {

std::unique_ptr<TPluginHost> Host;

const std::string GetVersionCommand =
    R"({ "ID" : "1", "Plugin" : "VOVidez", "Method" : "GetVersion", "Params" : [] })";

std::string HashCommand(size_t dataSize) {
    return R"({ "ID" : "2", "Plugin" : "VOVidez", "Method" : "Hash", "Params" : [{ "Data" : ")" +
           std::string(dataSize, 'a') + R"(" }] })";
}

void BM_ProcessCommand_GetVersion(benchmark::State& state) {
    std::string reply;
    for (auto _ : state) {
        if (!Host->ProcessCommand(GetVersionCommand, reply)) state.SkipWithError("command failed");
        benchmark::DoNotOptimize(reply.data());
    }
}
BENCHMARK(BM_ProcessCommand_GetVersion)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

void BM_ProcessCommand_Hash(benchmark::State& state) {
    const std::string command = HashCommand(static_cast<size_t>(state.range(0)));
    std::string reply;
    for (auto _ : state) {
        if (!Host->ProcessCommand(command, reply)) state.SkipWithError("command failed");
        benchmark::DoNotOptimize(reply.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ProcessCommand_Hash)->Arg(64)->Arg(64 * 1024);

void BM_CallPlugin_GetVersion(benchmark::State& state) {
    std::string id, result;
    for (auto _ : state) {
        id = "1";
        if (!CallPlugin("VOVidez", "GetVersion", {}, id, result)) state.SkipWithError("call failed");
        benchmark::DoNotOptimize(result.data());
    }
}
BENCHMARK(BM_CallPlugin_GetVersion);

void BM_AsJSONString_Command(benchmark::State& state) {
    TPluginCommand command("VOVidez", "Sign", {"Data=0123456789abcdef", "Format=hex", "Key", "=flag"}, "17");
    for (auto _ : state) {
        std::string text = command.AsJSONString();
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_AsJSONString_Command);

void BM_LoadFromJSON_Result(benchmark::State& state) {
    const std::string reply =
        R"({"ID":"17","Plugin":"VOVidez","Method":"Hash","Result":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"})";
    for (auto _ : state) {
        TPluginResult result;
        if (!result.LoadFromJSON(reply)) state.SkipWithError("not read");
        benchmark::DoNotOptimize(result.Result().data());
    }
}
BENCHMARK(BM_LoadFromJSON_Result);

}  // namespace

int main(int argc, char** argv) {
    // A host ini file of the machine's own must not switch the log on: no log, no settings.
    char work[] = "/tmp/kexo-bench-plugin-XXXXXX";
    if (!mkdtemp(work)) return 1;
    setenv("AppData", work, 1);
    Host = std::make_unique<TPluginHost>(std::string(work) + "/host.ini");
    PluginHost = Host.get();
    LibManager()->PathList().Add(KEXO_SAMPLE_PLUGIN_DIR);
    if (!Host->LoadPlugin()) return 1;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    Host->UnloadPlugin();
    PluginHost = nullptr;
    Host.reset();
    FinalizeLibUtils();
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    return 0;
}
