#pragma once

// One job's controller: owns the job's PuzzleSolver and runs it on a worker thread of its
// own. The window's thread sends commands through the shared command word and reads the
// state word and the solution count; the worker reports through posted messages. No lock
// is shared between the two sides: only these atomic words.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "solver/puzzle_solver.h"
#include "threads/message_sink.h"

namespace quaderix {

enum PuzzleCommand : int32_t {
  CommandNone = 0,
  CommandStart = 1,
  CommandPause = 2,
  CommandContinue = 3,
  CommandStop = 4,
};

enum PuzzleState : int32_t {
  StateIdle = 0,
  StateRunning = 1,
  StatePaused = 2,
  StateFinished = 3,
  StateFailed = 4,
};

// Milliseconds of the steady clock, truncated to 32 bits; differences are taken modulo
// 2^32.
uint32_t TickCount();

// The commands, the run loop and the state reports. The three posting operations are
// left to the derived class.
class PuzzleThreadBase {
 public:
  PuzzleThreadBase(int32_t startStone, int32_t endStone, const std::string& puzzlePath,
                   const std::string& outputPath);
  virtual ~PuzzleThreadBase() = default;
  PuzzleThreadBase(const PuzzleThreadBase&) = delete;
  PuzzleThreadBase& operator=(const PuzzleThreadBase&) = delete;

  // Each returns 0 (taken, or nothing to do), 1 (refused) or 2 (not taken within
  // `timeout` ms and withdrawn).
  virtual int Start(uint32_t timeout);
  virtual int Pause(uint32_t timeout);
  virtual int Continue(uint32_t timeout);
  virtual int Stop(uint32_t timeout);
  virtual int PostCommand(int32_t command, uint32_t timeout);

  virtual void PostText(std::string text) = 0;
  virtual void PostLine(std::string text) = 0;
  virtual void PostNotify() = 0;

  virtual void OnRunning();
  virtual void OnPaused();
  virtual void OnFinished();
  virtual void OnStopped();

  // The body of the worker's thread.
  virtual void Run();

  int32_t GetState() const { return state.load(); }
  uint64_t GetSolutionCount() const { return solver.SolutionCount(); }

  PuzzleSolver solver;
  std::atomic<int32_t> command{CommandNone};
  std::atomic<int32_t> state{StateIdle};

  // Owned by the window's supervision alone; the controller never touches them.
  int32_t started = 0;
  int32_t retired = 0;
  int32_t lastSolutionCount = 0;

 protected:
  // The solver's set-up as the worker runs it; tests override it to make it slow.
  virtual int SetupSolver();

  // The waiting half of PostCommand, for a command already written at tick t0.
  int AwaitCommand(int32_t command, uint32_t t0, uint32_t timeout);
  // Takes `command` out of the command word unless the window withdrew it first; the
  // worker then publishes the new state and clears the word.
  bool ClaimCommand(int32_t command);
  // The paused worker's wait for CommandContinue or CommandStop.
  void WaitWhilePaused();
};

// The controller on a real thread, posting to a MessageSink. Destruction joins the worker,
// so a worker never outlives its controller: a worker that was never stopped is sent
// CommandStop first, and one still in Setup after a timed-out Start ends by itself once
// Setup returns, so destruction may wait for the rest of that Setup.
class PuzzleThread : public PuzzleThreadBase {
 public:
  PuzzleThread(MessageSink& window, int32_t startStone, int32_t endStone,
               const std::string& puzzlePath, const std::string& outputPath);
  ~PuzzleThread() override;

  int Start(uint32_t timeout) override;
  void PostText(std::string text) override;
  void PostLine(std::string text) override;
  void PostNotify() override;
  void OnRunning() override;
  void OnPaused() override;
  void OnFinished() override;
  void OnStopped() override;

  // True from the moment Start begins the worker's thread until the worker's Run returns.
  bool WorkerRunning() const { return workerRunning_.load(); }

 protected:
  // Makes a worker that is still running end and waits for it. A subclass that
  // overrides anything the worker calls must call this in its own destructor, before
  // its overrides are gone.
  void EndWorker();

 private:
  MessageSink& window_;
  std::thread worker_;
  std::atomic<bool> workerRunning_{false};
};

}  // namespace quaderix
