#include "threads/puzzle_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <system_error>

namespace quaderix {
namespace {

// A worker that has claimed a command but not yet published the state it leads to holds
// this value in the command word for a moment. A withdrawal that meets it knows the
// command is being taken and waits for the word to become CommandNone.
constexpr int32_t kCommandClaimed = std::numeric_limits<int32_t>::min();

constexpr int kNiceNormal = 0;
constexpr int kNiceBelowNormal = 5;
constexpr auto kIdlePoll = std::chrono::milliseconds(100);

std::string StateText(const char* what) {
  char text[96];
  std::snprintf(text, sizeof text, "State info (%d)-> Puzzle %s", static_cast<int>(gettid()), what);
  return text;
}

// Best effort: a refused change (raising priority needs privileges) is ignored.
void SetWorkerPriority(int nice) {
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
}

}  // namespace

uint32_t TickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

PuzzleThreadBase::PuzzleThreadBase(int32_t startStone, int32_t endStone,
                                   const std::string& puzzlePath, const std::string& outputPath)
    : solver(startStone, endStone, puzzlePath, outputPath) {}

int PuzzleThreadBase::Start(uint32_t timeout) {
  if (state.load() != StateIdle) return 1;
  return PostCommand(CommandStart, timeout);
}

int PuzzleThreadBase::Pause(uint32_t timeout) {
  switch (state.load()) {
    case StateRunning:
      return PostCommand(CommandPause, timeout);
    case StateFinished:
      return 0;
    default:
      return 1;
  }
}

int PuzzleThreadBase::Continue(uint32_t timeout) {
  switch (state.load()) {
    case StatePaused:
      return PostCommand(CommandContinue, timeout);
    case StateFinished:
      return 0;
    default:
      return 1;
  }
}

int PuzzleThreadBase::Stop(uint32_t timeout) {
  switch (state.load()) {
    case StateRunning:
    case StatePaused:
    case StateFinished:
      return PostCommand(CommandStop, timeout);
    default:
      return 1;
  }
}

int PuzzleThreadBase::PostCommand(int32_t value, uint32_t timeout) {
  const uint32_t t0 = TickCount();
  command.store(value);
  return AwaitCommand(value, t0, timeout);
}

int PuzzleThreadBase::AwaitCommand(int32_t value, uint32_t t0, uint32_t timeout) {
  if (value != CommandNone) {
    // The window's thread waits here by design; yielding keeps a busy wait from starving
    // the worker on a machine with few cores.
    for (;;) {
      if (state.load() == StateFailed) return 1;
      if (TickCount() - t0 >= timeout) break;
      if (command.load() == CommandNone) break;
      std::this_thread::yield();
    }
  }
  if (state.load() == StateFailed) return 1;
  int32_t current = value;
  if (command.compare_exchange_strong(current, CommandNone)) {
    return value == CommandNone ? 0 : 2;
  }
  // The worker got there first. If it is still publishing the state the command leads
  // to, wait for that, so that the caller sees the new state once we return 0.
  while (command.load() == kCommandClaimed) std::this_thread::yield();
  if (state.load() == StateFailed) return 1;
  return 0;
}

bool PuzzleThreadBase::ClaimCommand(int32_t value) {
  return command.compare_exchange_strong(value, kCommandClaimed);
}

void PuzzleThreadBase::OnRunning() {
  PostLine(StateText("is running"));
}
void PuzzleThreadBase::OnPaused() {
  PostLine(StateText("has paused"));
}
void PuzzleThreadBase::OnFinished() {
  PostLine(StateText("has finished"));
}
void PuzzleThreadBase::OnStopped() {
  PostLine(StateText("has stopped"));
}

int PuzzleThreadBase::SetupSolver() {
  return solver.Setup(solver.startStone, solver.endStone, solver.puzzleFileName,
                      solver.outputFileName);
}

void PuzzleThreadBase::WaitWhilePaused() {
  for (;;) {
    int32_t c = command.load();
    if (c == CommandContinue || c == CommandStop) return;
    if (c != CommandNone && c != kCommandClaimed) {
      // Cleared only if the window has not withdrawn it meanwhile; a withdrawn command
      // is neither acted on nor reported.
      const int32_t seen = c;
      if (command.compare_exchange_strong(c, CommandNone)) {
        char text[48];
        std::snprintf(text, sizeof text, "Command(%d) ignored", static_cast<int>(seen));
        PostLine(text);
      }
    }
    std::this_thread::sleep_for(kIdlePoll);
  }
}

void PuzzleThreadBase::Run() {
  if (!SetupSolver()) {
    state.store(StateFailed);
    command.store(CommandNone);
    return;
  }

  // Start posts CommandStart before the worker exists, so finding none here means the
  // window gave up waiting (or is destroying us) while Setup ran. Nobody will ever
  // command this worker, so it must not go on searching unseen.
  if (!ClaimCommand(CommandStart)) {
    solver.Teardown();
    state.store(StateIdle);
    return;
  }
  state.store(StateRunning);
  command.store(CommandNone);
  OnRunning();

  for (;;) {
    const int32_t c = command.load();
    if (c == CommandStop || state.load() == StateFinished) break;
    if (c == CommandStart || c == CommandContinue) {
      if (ClaimCommand(c)) {
        state.store(StateRunning);
        command.store(CommandNone);
        OnRunning();
      }
    } else if (c == CommandPause) {
      if (ClaimCommand(c)) {
        state.store(StatePaused);
        command.store(CommandNone);
        OnPaused();
        WaitWhilePaused();
      }
    }
    solver.Step();
    if (state.load() == StateRunning && solver.finished == 1) state.store(StateFinished);
  }

  if (state.load() == StateFinished) OnFinished();
  while (command.load() != CommandStop) std::this_thread::sleep_for(kIdlePoll);
  OnStopped();
  solver.Teardown();
  // Idle first: a waiting Stop sees its command taken only once the worker is done.
  state.store(StateIdle);
  command.store(CommandNone);
}

PuzzleThread::PuzzleThread(MessageSink& window, int32_t startStone, int32_t endStone,
                           const std::string& puzzlePath, const std::string& outputPath)
    : PuzzleThreadBase(startStone, endStone, puzzlePath, outputPath), window_(window) {}

PuzzleThread::~PuzzleThread() {
  EndWorker();
}

void PuzzleThread::EndWorker() {
  if (!worker_.joinable()) return;
  // A worker that was never stopped is told to stop; one still in Setup finds no
  // CommandStart afterwards and ends as well. Either way we wait for it, because it uses
  // this object to the last.
  command.store(CommandStop);
  worker_.join();
}

int PuzzleThread::Start(uint32_t timeout) {
  if (state.load() != StateIdle) return 1;
  // A previous worker has ended, or is about to leave a Setup whose Start timed out and
  // will end on its own; either way only one worker may use the solver.
  if (worker_.joinable()) worker_.join();
  const uint32_t t0 = TickCount();
  // Written before the worker exists, so a worker that finishes Setup at once still
  // finds it, and a worker that finds none knows the Start was withdrawn.
  command.store(CommandStart);
  workerRunning_.store(true);
  try {
    worker_ = std::thread([this] {
      Run();
      workerRunning_.store(false);
    });
  } catch (const std::system_error&) {
    workerRunning_.store(false);
    command.store(CommandNone);
    return 1;
  }
  return AwaitCommand(CommandStart, t0, timeout);
}

void PuzzleThread::PostText(std::string text) {
  window_.Post(PuzzleMessage{WM_PUZZLE_LOG, 0, 0, std::move(text)});
}

void PuzzleThread::PostLine(std::string text) {
  window_.Post(PuzzleMessage{WM_PUZZLE_LOG, 1, 0, std::move(text)});
}

void PuzzleThread::PostNotify() {
  window_.Post(PuzzleMessage{WM_PUZZLE_NOTIFY, 1, 0, {}});
}

void PuzzleThread::OnRunning() {
  SetWorkerPriority(kNiceNormal);
  PuzzleThreadBase::OnRunning();
}

void PuzzleThread::OnPaused() {
  SetWorkerPriority(kNiceNormal);
  PuzzleThreadBase::OnPaused();
}

void PuzzleThread::OnFinished() {
  SetWorkerPriority(kNiceBelowNormal);
  PuzzleThreadBase::OnFinished();
  window_.Post(PuzzleMessage{WM_PUZZLE_NOTIFY, 2, 0, {}});
}

void PuzzleThread::OnStopped() {
  SetWorkerPriority(kNiceNormal);
  PuzzleThreadBase::OnStopped();
}

}  // namespace quaderix
