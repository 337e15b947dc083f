// The host log's costs: a report with the log off (the common case), a report with the
// log on (synchronous: one open, write and close of the file per entry), and building
// one record without writing it.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "log/U_LogFile.h"
#include "platform/Files.h"

namespace {

std::string WorkDir;  // %AppData% and %Temp% of this run

class TPluginHost : public TObject {};

std::string IniFile() { return TKXPluginLogerBase::GetIniFileName(); }

// A new host log lifecycle, with the log on (file name given) or off.
void StartRun(const std::string& logFileName) {
    FinishHostLog();
    DeleteFile(IniFile());
    if (!logFileName.empty()) {
        ForceDirectories(ExtractFileDir(IniFile()));
        WriteFileAtomic(IniFile(), "[Log]\r\nFileName=" + logFileName + "\r\n");
    }
    InitHostLog();
}

void BM_HostLogOff(benchmark::State& state) {
    StartRun("");
    TPluginHost host;
    const std::string text = "Processing command...";
    for (auto _ : state) HostLog(&host, text, lkInfo);
    if (GetHostLog()->IsActive()) state.SkipWithError("the log should be off");
    FinishHostLog();
}
BENCHMARK(BM_HostLogOff);

void BM_HostLogOn(benchmark::State& state) {
    const std::string file = WorkDir + "/logs/host.log";
    StartRun(file);
    TPluginHost host;
    const std::string text = "Processing command...";
    for (auto _ : state) HostLog(&host, text, lkInfo);
    if (!GetHostLog()->IsActive()) state.SkipWithError("the log should be on");
    FinishHostLog();
    std::filesystem::remove_all(WorkDir + "/logs");
}
BENCHMARK(BM_HostLogOn);

void BM_HostLogOnWithDetail(benchmark::State& state) {
    const std::string file = WorkDir + "/logs/host.log";
    StartRun(file);
    TPluginHost host;
    const std::string text = "Data:";
    const std::string detail(512, 'x');
    for (auto _ : state) HostLog(&host, text, lkDetail, detail);
    FinishHostLog();
    std::filesystem::remove_all(WorkDir + "/logs");
}
BENCHMARK(BM_HostLogOnWithDetail);

void BM_BuildRecord(benchmark::State& state) {
    THostLoger log;
    TPluginHost host;
    const std::string text = "Data:";
    const TKXNames names{"abc"};
    for (auto _ : state) {
        auto record = log.BuildRecord(&host, ttMessage, text, names, {});
        benchmark::DoNotOptimize(record);
    }
}
BENCHMARK(BM_BuildRecord);

}  // namespace

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kexo-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    WorkDir = pattern;
    // Neither the machine's settings nor its temporary folder take part.
    setenv("AppData", WorkDir.c_str(), 1);
    setenv("TEMP", WorkDir.c_str(), 1);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FinishHostLog();
    std::filesystem::remove_all(WorkDir);
    return 0;
}
