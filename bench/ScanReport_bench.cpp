// CPU time of the scan's record (--report) per target: Begin, one Record
// per target as the workers make them, and Write into a scratch folder.
// Two kinds of target: one that never answered (a dead address: the
// common case of a large scan) and one that answered with a file written.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "driver/ScanReport.h"

namespace {

CTargetRecord DeadRecord(size_t i, const std::shared_ptr<const CTargetSettings>& pSettings) {
  CTargetRecord record;
  record.strTarget = "127.20." + std::to_string(i / 250 % 250) + "." + std::to_string(1 + i % 250);
  record.pSettings = pSettings;
  record.uCode = 40;
  record.figures.nRequests = 4;
  record.figures.nResends = 2;
  record.figures.nTimeouts = 2;
  record.dSeconds = 2.004;
  record.arrFiles[0].szWhy = "no answer";
  record.arrFiles[0].state = CFileRecord::EState::Kept;
  record.nFiles = 1;
  return record;
}

CTargetRecord LiveRecord(size_t i, const std::shared_ptr<const CTargetSettings>& pSettings) {
  CTargetRecord record = DeadRecord(i, pSettings);
  record.uCode = 0;
  record.stop = EWalkStop::End;
  record.nObjects = 1200;
  record.bStored = true;
  record.figures.strAgent = record.strTarget + ":161";
  record.figures.nBytesReceived = 98765;
  record.nRoundTrips = 1200;
  record.arrRoundTripMicros[0] = 80;
  record.arrRoundTripMicros[1] = 120;
  record.arrRoundTripMicros[2] = 400;
  record.arrRoundTripMicros[3] = 1500;
  record.uUpTimeFirst = 123456;
  record.uUpTimeAfter = 123470;
  record.strFirstOid = "1.3.6.1.2.1.1.1.0";
  record.strLastOid = "1.3.6.1.6.3.16.1.5.2.1.6.6.95.97.108.108.95.1.2";
  record.arrFiles[0].state = CFileRecord::EState::Written;
  record.arrFiles[0].szWhy = "";
  record.arrFiles[0].nSize = 150000;
  record.arrFiles[0].bDigest = true;
  return record;
}

template <CTargetRecord (*FMake)(size_t, const std::shared_ptr<const CTargetSettings>&)>
void BM_Record(benchmark::State& state) {
  const size_t nTargets = static_cast<size_t>(state.range(0));
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("report-bench." + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto pSettings = std::make_shared<const CTargetSettings>();
  for (auto _ : state) {
    CScanReport report;
    report.Begin(nTargets, {"-f", "targets.txt", "--report"}, CResultPlace{dir.string(), {}});
    for (size_t i = 0; i < nTargets; ++i) report.Record(i, FMake(i, pSettings));
    benchmark::DoNotOptimize(report.Write());
  }
  std::filesystem::remove_all(dir);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Record<DeadRecord>)->Name("BM_RecordDead")->Arg(50000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Record<LiveRecord>)->Name("BM_RecordLive")->Arg(50000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
