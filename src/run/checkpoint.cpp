#include "run/checkpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "config/puzzle_definition.h"
#include "run/work_pool.h"

namespace quaderix {
namespace {

constexpr const char* kHeader = "QuaderixCheckpoint 1";

std::string Hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016" PRIx64, v);
  return buf;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return "cannot " + what + " " + path + ": " + std::strerror(errno) + ".";
}

// Reads the next line of `text` from `pos` (without its "\n"); false at the end or when
// the last line has no line end, which only a cut file has.
bool NextLine(const std::string& text, size_t& pos, std::string& line) {
  const size_t end = text.find('\n', pos);
  if (end == std::string::npos) return false;
  line.assign(text, pos, end - pos);
  pos = end + 1;
  return true;
}

bool ParseUnsigned(const std::string& word, uint64_t& value, int base = 10) {
  if (word.empty() || word.size() > 20) return false;
  for (char c : word) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    if (base == 10 && !std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(word.c_str(), &end, base);
  return errno == 0 && *end == '\0';
}

bool ParseInt32(const std::string& word, int32_t& value) {
  uint64_t v = 0;
  if (!ParseUnsigned(word, v) || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

// "key value" with exactly the key given; the value is the rest of the line.
bool Field(const std::string& line, const char* key, std::string& value) {
  const size_t n = std::strlen(key);
  if (line.compare(0, n, key) != 0 || line.size() <= n || line[n] != ' ') return false;
  value = line.substr(n + 1);
  return true;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

// Doubles travel as exact hexadecimal floats, so a resumed estimate is the same one.
std::string HexDouble(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%a", v);
  return buf;
}

bool ParseDouble(const std::string& word, double& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(word.c_str(), &end);
  return errno == 0 && *end == '\0' && std::isfinite(value) && value >= 0;
}

bool ParseChoice(const std::string& word, PlacementChoice& choice) {
  const size_t colon = word.find(':');
  return colon != std::string::npos && ParseInt32(word.substr(0, colon), choice.stone) &&
         ParseInt32(word.substr(colon + 1), choice.placement);
}

}  // namespace

uint64_t JobCheckpoint::FinishedSolutions() const {
  uint64_t sum = 0;
  for (const UnitCheckpoint& u : units)
    sum += u.solutions > 0 ? static_cast<uint64_t>(u.solutions) : 0;
  return sum;
}

int32_t JobCheckpoint::FinishedUnits() const {
  int32_t n = 0;
  for (const UnitCheckpoint& u : units) n += u.solutions >= 0 ? 1 : 0;
  return n;
}

uint64_t Fingerprint(const std::string& bytes) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

std::string SerializeCheckpoint(const Checkpoint& cp) {
  std::string out;
  out += kHeader;
  out += "\npuzzle " + Hex(cp.puzzleFingerprint) + " " + std::to_string(cp.puzzleSize);
  // The base name may hold blanks; its length says where it ends.
  out += "\noutput-base " + std::to_string(cp.outputBase.size()) + ":" + cp.outputBase;
  out += "\nwrite-every " + std::to_string(cp.writeEveryNSolution);
  out += "\nelapsed-ms " + std::to_string(cp.elapsedMs);
  out += "\njobs " + std::to_string(cp.jobs.size()) + "\n";
  for (size_t i = 0; i < cp.jobs.size(); ++i) {
    const JobCheckpoint& job = cp.jobs[i];
    out += "job " + std::to_string(i) + " " + (job.cut ? "cut" : "uncut") + " " +
           std::to_string(job.units.size()) + " " + std::to_string(job.committedLength) + " " +
           HexDouble(job.probedSize) + "\n";
    for (const UnitCheckpoint& u : job.units) {
      out += u.packing ? "p " : "u ";
      out += u.solutions >= 0 ? std::to_string(u.solutions) : std::string("-");
      out += " " + std::to_string(u.nodes) + " " + HexDouble(u.share);
      for (const PlacementChoice& c : u.prefix)
        out += " " + std::to_string(c.stone) + ":" + std::to_string(c.placement);
      out += "\n";
    }
  }
  out += "check " + Hex(Fingerprint(out)) + "\n";
  return out;
}

bool ParseCheckpoint(const std::string& text, Checkpoint* result, std::string* error) {
  auto fail = [&](const std::string& why) {
    *error = "the checkpoint is damaged: " + why + ".";
    return false;
  };
  // The last line vouches for everything before it; check it first, so that nothing of
  // a cut or altered file is believed.
  const size_t checkAt = text.rfind("check ");
  if (checkAt == std::string::npos || (checkAt > 0 && text[checkAt - 1] != '\n'))
    return fail("it ends before its check line");
  std::string checkLine;
  size_t pos = checkAt;
  uint64_t check = 0;
  if (!NextLine(text, pos, checkLine) || pos != text.size() ||
      !ParseUnsigned(checkLine.substr(6), check, 16))
    return fail("its check line is cut");
  if (check != Fingerprint(text.substr(0, checkAt)))
    return fail("its contents do not match its check line");

  Checkpoint cp;
  std::string line, value;
  pos = 0;
  if (!NextLine(text, pos, line) || line != kHeader) return fail("it is not a checkpoint file");
  std::vector<std::string> w;
  if (!NextLine(text, pos, line) || !Field(line, "puzzle", value) ||
      (w = Words(value)).size() != 2 || !ParseUnsigned(w[0], cp.puzzleFingerprint, 16) ||
      !ParseUnsigned(w[1], cp.puzzleSize))
    return fail("the puzzle line is wrong");
  uint64_t n = 0;
  if (!NextLine(text, pos, line) || !Field(line, "output-base", value))
    return fail("the output-base line is wrong");
  const size_t colon = value.find(':');
  if (colon == std::string::npos || !ParseUnsigned(value.substr(0, colon), n) ||
      n != value.size() - colon - 1)
    return fail("the output-base line is wrong");
  cp.outputBase = value.substr(colon + 1);
  if (!NextLine(text, pos, line) || !Field(line, "write-every", value) ||
      !ParseInt32(value, cp.writeEveryNSolution))
    return fail("the write-every line is wrong");
  if (!NextLine(text, pos, line) || !Field(line, "elapsed-ms", value) ||
      !ParseUnsigned(value, cp.elapsedMs))
    return fail("the elapsed-ms line is wrong");
  uint64_t jobCount = 0;
  if (!NextLine(text, pos, line) || !Field(line, "jobs", value) ||
      !ParseUnsigned(value, jobCount) || jobCount > text.size())
    return fail("the jobs line is wrong");
  for (uint64_t i = 0; i < jobCount; ++i) {
    JobCheckpoint job;
    uint64_t units = 0, index = 0;
    if (!NextLine(text, pos, line) || (w = Words(line)).size() != 6 || w[0] != "job" ||
        !ParseUnsigned(w[1], index) || index != i || (w[2] != "cut" && w[2] != "uncut") ||
        !ParseUnsigned(w[3], units) || units > text.size() ||
        !ParseUnsigned(w[4], job.committedLength) || !ParseDouble(w[5], job.probedSize))
      return fail("the line of job " + std::to_string(i) + " is wrong");
    job.cut = w[2] == "cut";
    for (uint64_t u = 0; u < units; ++u) {
      const std::string where = "unit " + std::to_string(u) + " of job " + std::to_string(i);
      UnitCheckpoint unit;
      if (!NextLine(text, pos, line) || (w = Words(line)).size() < 4 ||
          (w[0] != "u" && w[0] != "p") || !ParseUnsigned(w[2], unit.nodes) ||
          !ParseDouble(w[3], unit.share))
        return fail(where + " is wrong");
      unit.packing = w[0] == "p";
      if (w[1] != "-") {
        uint64_t n = 0;
        if (!ParseUnsigned(w[1], n) || n > INT64_MAX) return fail(where + " is wrong");
        unit.solutions = static_cast<int64_t>(n);
      }
      for (size_t k = 4; k < w.size(); ++k) {
        PlacementChoice c;
        if (!ParseChoice(w[k], c)) return fail(where + " is wrong");
        unit.prefix.push_back(c);
      }
      job.units.push_back(std::move(unit));
    }
    cp.jobs.push_back(std::move(job));
  }
  if (pos != checkAt) return fail("it has lines that belong to no job");
  *result = std::move(cp);
  return true;
}

std::string CheckpointMismatch(const Checkpoint& cp, uint64_t puzzleFingerprint,
                               uint64_t puzzleSize, const std::string& outputBase,
                               int32_t writeEveryNSolution) {
  if (cp.puzzleFingerprint != puzzleFingerprint || cp.puzzleSize != puzzleSize)
    return "the checkpoint belongs to another puzzle, or the puzzle file was changed since.";
  if (cp.outputBase != outputBase)
    return "the checkpoint was written for the output base \"" + cp.outputBase + "\", not \"" +
           outputBase + "\".";
  if (cp.writeEveryNSolution != writeEveryNSolution)
    return "the checkpoint was written with WriteEveryNSolution=" +
           std::to_string(cp.writeEveryNSolution) + ", the puzzle now says " +
           std::to_string(writeEveryNSolution) + ".";
  return {};
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  const std::string temp = path + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = SystemError("create", temp);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = SystemError("write", temp);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) {
    *error = SystemError("flush", temp);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  ::close(fd);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    *error = SystemError("rename", temp);
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk too, or a crash could bring back the old name.
  std::string dir = std::filesystem::path(path).parent_path().string();
  if (dir.empty()) dir = ".";
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = SystemError("read", path);
    return false;
  }
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  if (!ok) {
    *error = "cannot read " + path + ".";
    return false;
  }
  *bytes = std::move(out);
  return true;
}

std::string OutputFilesProblem(const Checkpoint& cp, const std::vector<std::string>& paths) {
  for (size_t i = 0; i < cp.jobs.size() && i < paths.size(); ++i) {
    if (paths[i].empty() || cp.jobs[i].committedLength == 0) continue;
    struct stat st {};
    if (::stat(paths[i].c_str(), &st) != 0 ||
        static_cast<uint64_t>(st.st_size) < cp.jobs[i].committedLength) {
      return "the output file " + paths[i] + " is shorter than the " +
             std::to_string(cp.jobs[i].committedLength) +
             " bytes the checkpoint says were written to it.";
    }
  }
  return {};
}

bool CutOutputFilesBack(const Checkpoint& cp, const std::vector<std::string>& paths,
                        std::string* error) {
  // Every file is checked before any is cut, so that a refusal changes nothing.
  *error = OutputFilesProblem(cp, paths);
  if (!error->empty()) return false;
  for (size_t i = 0; i < cp.jobs.size() && i < paths.size(); ++i) {
    if (paths[i].empty()) continue;
    const int fd = ::open(paths[i].c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(cp.jobs[i].committedLength)) != 0) {
      *error = SystemError("cut back", paths[i]);
      if (fd >= 0) ::close(fd);
      return false;
    }
    ::close(fd);
  }
  return true;
}

RunIdentity ReadRunIdentity(const std::string& puzzlePath, const std::string& outputBase) {
  RunIdentity id;
  id.outputBase = outputBase;
  const PuzzleParameters params = ReadPuzzleParameters(puzzlePath, !outputBase.empty());
  id.writeEveryNSolution = params.writeEveryNSolution;
  id.builtIn = params.useFile == 0;
  std::string bytes, error;
  if (id.builtIn) {
    id.puzzleFingerprint = Fingerprint("the built-in puzzle");
  } else if (ReadWholeFile(puzzlePath, &bytes, &error)) {
    id.puzzleFingerprint = Fingerprint(bytes);
    id.puzzleSize = bytes.size();
  }
  return id;
}

std::string CheckpointPathFor(const RunIdentity& identity, const std::string& puzzlePath,
                              const std::string& directory) {
  // Beside the output files, so that the same command in the same directory finds it.
  if (!identity.outputBase.empty()) return identity.outputBase + ".checkpoint";
  const std::string stem =
      identity.builtIn ? "builtin-puzzle" : std::filesystem::path(puzzlePath).stem().string();
  return (std::filesystem::path(directory) / (stem + ".checkpoint")).string();
}

CheckpointLookup LookUpCheckpoint(const std::string& path, const RunIdentity& id) {
  CheckpointLookup found;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return found;
  found.state = CheckpointLookup::Refused;
  std::string text, error;
  if (!ReadWholeFile(path, &text, &error)) {
    found.reason = error;
    return found;
  }
  if (!ParseCheckpoint(text, &found.checkpoint, &error)) {
    found.reason = error;
    return found;
  }
  found.reason = CheckpointMismatch(found.checkpoint, id.puzzleFingerprint, id.puzzleSize,
                                    id.outputBase, id.writeEveryNSolution);
  if (found.reason.empty()) {
    std::vector<std::string> paths;
    for (size_t j = 0; j < found.checkpoint.jobs.size(); ++j)
      paths.push_back(OutputFileName(id.outputBase, static_cast<int32_t>(j)));
    found.reason = OutputFilesProblem(found.checkpoint, paths);
  }
  if (found.reason.empty()) found.state = CheckpointLookup::Matching;
  return found;
}

}  // namespace quaderix
