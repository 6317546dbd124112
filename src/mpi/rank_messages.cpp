#include "mpi/rank_messages.h"

#include <mpi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "run/solver_engine.h"

namespace quaderix {
namespace {

// Appends and reads back plain words; the ranks share one build.
class Writer {
 public:
  void Word(int64_t value) { bytes.append(reinterpret_cast<const char*>(&value), sizeof value); }
  void Choices(const PlacementChoice* c, size_t n) {
    Word(static_cast<int64_t>(n));
    // A job's root unit has no choices, and its empty vector's data() may be null.
    if (n > 0) bytes.append(reinterpret_cast<const char*>(c), n * sizeof(PlacementChoice));
  }
  std::string bytes;
};

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  int64_t Word() {
    int64_t value = 0;
    if (at_ + sizeof value > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    std::memcpy(&value, bytes_.data() + at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  void Choices(std::vector<PlacementChoice>* out) {
    const int64_t n = Word();
    const size_t size = static_cast<size_t>(n) * sizeof(PlacementChoice);
    if (n < 0 || at_ + size > bytes_.size()) {
      ok_ = false;
      return;
    }
    const size_t old = out->size();
    out->resize(old + static_cast<size_t>(n));
    if (size > 0) std::memcpy(out->data() + old, bytes_.data() + at_, size);
    at_ += size;
  }
  bool Done() const { return ok_ && at_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

void UnitAnswer::Add(uint64_t number, const PlacementChoice* choices, int32_t depth) {
  local.push_back(number);
  levels.insert(levels.end(), choices, choices + depth);
  ends.push_back(static_cast<uint32_t>(levels.size()));
}

void UnitAnswer::Replay(UnitObserver& observer) const {
  uint64_t told = 0;
  for (size_t k = 0; k < local.size(); ++k) {
    if (local[k] > told + 1) observer.OnSkipped(local[k] - told - 1);
    const uint32_t begin = k == 0 ? 0 : ends[k - 1];
    observer.OnSolution(levels.data() + begin, static_cast<int32_t>(ends[k] - begin));
    told = local[k];
  }
  if (count > told) observer.OnSkipped(count - told);
}

std::string Encode(const UnitRequest& request) {
  Writer w;
  w.Word(request.id);
  w.Word(request.unit.job);
  w.Word(request.rule.mode);
  w.Word(static_cast<int64_t>(request.rule.base));
  w.Word(request.rule.everyN);
  w.Choices(request.unit.prefix.data(), request.unit.prefix.size());
  return std::move(w.bytes);
}

bool Decode(const std::string& bytes, UnitRequest* request) {
  Reader r(bytes);
  request->id = r.Word();
  request->unit.job = static_cast<int32_t>(r.Word());
  request->rule.mode = static_cast<KeepRule::Mode>(r.Word());
  request->rule.base = static_cast<uint64_t>(r.Word());
  request->rule.everyN = static_cast<int32_t>(r.Word());
  request->unit.prefix.clear();
  r.Choices(&request->unit.prefix);
  return r.Done();
}

std::string Encode(const UnitAnswer& answer) {
  Writer w;
  w.Word(answer.id);
  w.Word(static_cast<int64_t>(answer.count));
  w.Word(static_cast<int64_t>(answer.nodes));
  int64_t seconds = 0;
  std::memcpy(&seconds, &answer.seconds, sizeof seconds);
  w.Word(seconds);
  w.Word(static_cast<int64_t>(answer.local.size()));
  for (size_t k = 0; k < answer.local.size(); ++k) {
    const uint32_t begin = k == 0 ? 0 : answer.ends[k - 1];
    w.Word(static_cast<int64_t>(answer.local[k]));
    w.Choices(answer.levels.data() + begin, answer.ends[k] - begin);
  }
  return std::move(w.bytes);
}

bool Decode(const std::string& bytes, UnitAnswer* answer) {
  Reader r(bytes);
  *answer = UnitAnswer{};
  answer->id = r.Word();
  answer->count = static_cast<uint64_t>(r.Word());
  answer->nodes = static_cast<uint64_t>(r.Word());
  const int64_t seconds = r.Word();
  std::memcpy(&answer->seconds, &seconds, sizeof seconds);
  const int64_t kept = r.Word();
  for (int64_t k = 0; k < kept && static_cast<size_t>(k) < bytes.size(); ++k) {
    answer->local.push_back(static_cast<uint64_t>(r.Word()));
    r.Choices(&answer->levels);
    answer->ends.push_back(static_cast<uint32_t>(answer->levels.size()));
  }
  return r.Done() && answer->local.size() == static_cast<size_t>(kept);
}

std::shared_ptr<const RunModel> BuildModelFromText(const std::string& text, bool withOutput,
                                                   SetupError* error) {
  std::string path = (std::filesystem::temp_directory_path() / "quaderix-puzzle-XXXXXX").string();
  const int fd = mkstemp(path.data());
  if (fd < 0) {
    error->Set(SetupErrorCode::kOutOfMemory, "no temporary file for the puzzle could be made");
    return nullptr;
  }
  // Unnamed at once, so that a rank killed in the middle leaves nothing behind; the set-up
  // opens it again through the descriptor's name in /proc for every key it reads.
  unlink(path.c_str());
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  std::shared_ptr<const RunModel> model;
  if (written == text.size()) {
    model = SolverModelBuilder()("/proc/self/fd/" + std::to_string(fd), withOutput, error);
  } else {
    error->Set(SetupErrorCode::kOutOfMemory, "the puzzle could not be written to a temporary file");
  }
  close(fd);
  return model;
}

bool ReceiveIfAny(int source, Incoming* message) {
  int flag = 0;
  MPI_Status status;
  MPI_Iprobe(source, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &status);
  if (!flag) return false;
  int size = 0;
  MPI_Get_count(&status, MPI_BYTE, &size);
  message->source = status.MPI_SOURCE;
  message->tag = status.MPI_TAG;
  message->bytes.assign(static_cast<size_t>(size), '\0');
  MPI_Recv(message->bytes.data(), size, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD,
           MPI_STATUS_IGNORE);
  return true;
}

Outbox::~Outbox() {
  Flush();
}

void Outbox::Send(int rank, int tag, std::string bytes) {
  Sending& sending = sending_.emplace_back();
  sending.bytes = std::move(bytes);
  MPI_Isend(sending.bytes.data(), static_cast<int>(sending.bytes.size()), MPI_BYTE, rank, tag,
            MPI_COMM_WORLD, &sending.request);
}

bool Outbox::Progress() {
  for (auto it = sending_.begin(); it != sending_.end();) {
    int done = 0;
    MPI_Test(&it->request, &done, MPI_STATUS_IGNORE);
    it = done ? sending_.erase(it) : std::next(it);
  }
  return sending_.empty();
}

void Outbox::Flush() {
  for (Sending& sending : sending_) MPI_Wait(&sending.request, MPI_STATUS_IGNORE);
  sending_.clear();
}

}  // namespace quaderix
