#include "RenderRun.h"

#include <signal.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "ProgressDisplay.h"
#include "RenderFile.h"
#include "RenderPlan.h"
#include "TransferCurve.h"

namespace {

// Opens (and checks) every input before anything is rendered; in a batch,
// the files that fail are reported and counted in failed, and the others
// closed again for their workers. 0, or the exit code of a single render.
int OpenInputs(const RenderOptions& opts, std::vector<FileJob>& jobs, int64_t& totalFrames, int& failed)
{
  std::string error;
  for (FileJob& job : jobs)
  {
    if (job.skipped) continue;
    if (job.error.empty() && !PrepareJob(opts, job, error))
    {
      if (!opts.Batch()) return Fail(error);
      job.error = error;
    }
    if (!job.error.empty())
    {
      Fail(InputName(job.input) + ": " + job.error);
      ++failed;
      continue;
    }
    totalFrames = job.frames < 0 || totalFrames < 0 ? -1 : totalFrames + job.frames;
    if (opts.Batch()) job.source.reset();  // opened again by its worker
  }
  return 0;
}

// A batch: each file on an instance of its own, so it comes out exactly
// as it would alone, on as many threads as asked. The number that failed.
int RenderBatch(const RenderOptions& opts, const RenderShared& shared, std::vector<FileJob>& jobs)
{
  std::vector<FileJob*> todo;
  for (FileJob& job : jobs)
    if (job.error.empty() && !job.skipped) todo.push_back(&job);
  std::atomic<size_t> next{0};
  std::atomic<int> renderFailed{0};
  auto worker = [&]() {
    for (size_t i = next++; i < todo.size(); i = next++)
    {
      std::string why;
      if (!RenderFile(shared, *todo[i], nullptr, why))
      {
        ++renderFailed;
        Fail(InputName(todo[i]->input) + ": " + why);
      }
      Progress().FileDone();
    }
  };
  std::vector<std::thread> threads;
  const int n = std::min<int>(opts.jobs, (int)todo.size());
  for (int t = 1; t < n; ++t) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
  return renderFailed.load();
}

}  // namespace

// A thread of its own rather than a handler: removing the files must wait
// for a file being made to be listed, and a handler may have interrupted
// the very thread making it.
void WatchStopSignals()
{
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::thread([stops]() {
    int sig = 0;
    if (sigwait(&stops, &sig) != 0) return;
    RemovePendingFilesNow();
    signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
  }).detach();
}

int RunCurve(const RenderOptions& opts)
{
  std::string error;
  OutputTarget target;
  if (!ResolveOutput(opts.curve, opts.force, target, error) || !RefuseOverAudio(opts.curve, target, error))
    return Fail(error);
  RenderShared shared;
  shared.opts = &opts;
  std::unique_ptr<PluginSession> probe;
  if (const int rc = LoadBundle(opts, shared, probe)) return rc;
  const HostParam* input = probe->Find("Input");
  if (!input) return Fail("the plug-in has no Input parameter to draw a curve for");
  if (!shared.setup.lanes.empty()) return Fail("--curve measures steady tones; use --set, not --automate", kExitUsage);

  CurveRequest request;
  request.module = shared.module;
  request.block = opts.block;
  request.precision = opts.precision;
  request.inputId = input->id;
  request.inputs = {0, 50, 100, 200, 400};
  for (const ParamChange& c : shared.setup.first)
  {
    if (c.id != input->id) request.settings.push_back(c);
    else if (std::find(request.inputs.begin(), request.inputs.end(), c.plain) == request.inputs.end())
      request.inputs.push_back(c.plain);
  }
  std::sort(request.inputs.begin(), request.inputs.end());
  probe.reset();

  std::vector<CurveLine> lines;
  if (!MeasureCurves(request, lines, error)) return Fail(error);

  std::string subtitle = "measured through " + BaseName(shared.bundle) + " at 48000 Hz, in 1 dB steps";
  for (const ParamSetting& s : opts.sets)
    if (strcasecmp(s.name.c_str(), "Input") != 0) subtitle += ";  " + s.name + " " + s.text;
  PendingFile png(target);
  if (png.TempPath().empty()) return Fail("cannot write " + opts.curve + ": " + png.TempError());
  if (!DrawCurvePlot(lines, subtitle, png.TempPath(), error) || !png.Commit(error)) return Fail(error);
  FILE* out = target.kind == OutputTarget::kStdout ? stderr : stdout;
  if (opts.json) fprintf(out, "%s\n", CurveJson(opts.curve, lines).c_str());
  else if (!opts.quiet)
    for (const CurveLine& l : lines) fprintf(out, "%s\n", DescribeCurve(l).c_str());
  return 0;
}

int RunRender(const RenderOptions& opts)
{
  RenderShared shared;
  shared.opts = &opts;
  struct FolderGuard
  {
    const RenderShared& shared;
    ~FolderGuard() { RemoveEmptyMadeFolders(shared); }
  } guard{shared};
  std::vector<FileJob> jobs;
  if (const int rc = PlanOutputs(opts, jobs, shared)) return rc;
  int skipped = 0;
  for (const FileJob& job : jobs)
    if (job.skipped)
    {
      ++skipped;
      Note((opts.Batch() ? job.out.given : opts.output) + " exists; skipped (-n)");
    }
  if (!jobs.empty() && skipped == (int)jobs.size()) return 0;

  std::string error;
  int64_t totalFrames = 0;
  int failed = 0;
  if (const int rc = OpenInputs(opts, jobs, totalFrames, failed)) return rc;
  if (const int rc = ReadStartingState(opts, shared)) return rc;

  std::unique_ptr<PluginSession> probe;
  if (!jobs.empty() && failed + skipped == (int)jobs.size())
    return Fail(std::to_string(failed) + " of " + std::to_string(jobs.size()) + " files failed");
  if (const int rc = LoadBundle(opts, shared, probe)) return rc;

  if (opts.settingsOnly) return SaveSettings(shared, std::move(probe), error) ? 0 : Fail(error);
  Progress().Enable(totalFrames, (int)jobs.size() - failed - skipped, !opts.quiet);

  if (!opts.Batch())
  {
    const bool ok = RenderFile(shared, jobs[0], std::move(probe), error);
    Progress().Finish();
    return ok ? 0 : Fail(error);
  }

  probe.reset();
  const int renderFailed = RenderBatch(opts, shared, jobs);
  Progress().Finish();
  failed += renderFailed;
  const std::string ofSkipped = skipped ? " (" + std::to_string(skipped) + " skipped, their outputs exist)" : "";
  if (failed) return Fail(std::to_string(failed) + " of " + std::to_string(jobs.size()) + " files failed" + ofSkipped);
  if (skipped && !opts.quiet)
    Note(std::to_string(jobs.size() - skipped) + " of " + std::to_string(jobs.size()) + " files rendered" + ofSkipped);
  return 0;
}
