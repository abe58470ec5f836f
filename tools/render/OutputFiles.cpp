#include "OutputFiles.h"

#include <sndfile.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Temporary names to remove when the program is stopped. A file is made
// and listed, and removed and unlisted, under gPendingLock, so whoever
// removes them all never meets a file that exists but is not yet listed.
constexpr int kMaxPending = 128;
constexpr size_t kMaxPath = 4096;
char gPendingPaths[kMaxPending][kMaxPath];
std::atomic<bool> gPendingUsed[kMaxPending];
std::mutex gPendingLock;

int ClaimSlot(const std::string& path)
{
  if (path.empty() || path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kMaxPending; ++i)
  {
    bool expected = false;
    if (gPendingUsed[i].compare_exchange_strong(expected, true))
    {
      memcpy(gPendingPaths[i], path.c_str(), path.size() + 1);
      return i;
    }
  }
  return -1;
}

void ReleaseSlot(int& slot)
{
  if (slot >= 0) gPendingUsed[slot].store(false);
  slot = -1;
}

std::string Folder(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string Base(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a chain of symbolic links ends when its last target does not exist.
bool FollowDanglingLinks(const std::string& link, std::string& end, std::string& error)
{
  std::string p = link;
  for (int depth = 0; depth < 40; ++depth)
  {
    char buf[PATH_MAX];
    const ssize_t n = readlink(p.c_str(), buf, sizeof(buf) - 1);
    if (n < 0)
    {
      error = "cannot follow " + link + ": " + strerror(errno);
      return false;
    }
    buf[n] = '\0';
    p = buf[0] == '/' ? std::string(buf) : Folder(p) + buf;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0)
    {
      end = p;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) break;
  }
  error = "cannot follow " + link + ": too many levels of symbolic links";
  return false;
}

bool CopyToFd(const std::string& from, int fd, std::string& why)
{
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
  {
    why = strerror(errno);
    return false;
  }
  char buf[1 << 16];
  bool ok = true;
  for (;;)
  {
    ssize_t n = read(in, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
    {
      if (n < 0) why = strerror(errno), ok = false;
      break;
    }
    for (ssize_t done = 0; done < n && ok;)
    {
      const ssize_t w = write(fd, buf + done, (size_t)(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
      {
        why = w < 0 ? strerror(errno) : "nothing written";
        ok = false;
      }
      else
        done += w;
    }
    if (!ok) break;
  }
  close(in);
  return ok;
}

// Samples and pictures on a terminal are noise at best and may drive it
// into states of its own; data compressors refuse the same way.
bool NotATerminal(int fd, const std::string& name, std::string& error)
{
  if (!isatty(fd)) return true;
  error = name + " is a terminal; tavlo-render writes no audio, picture or state to one: redirect it to a file "
          "or a program, or name a file";
  return false;
}

// Only a character device can be a terminal; a FIFO is not opened here,
// as that would wait for its reader.
bool NotATerminalDevice(const std::string& given, std::string& error)
{
  const int fd = open(given.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const bool ok = fd < 0 || NotATerminal(fd, given, error);
  if (fd >= 0) close(fd);
  return ok;
}

// The file a link to a regular file ends at, every link resolved.
bool RealPath(const std::string& given, std::string& path, std::string& error)
{
  char* real = realpath(given.c_str(), nullptr);
  if (!real)
  {
    error = "cannot follow " + given + ": " + strerror(errno);
    return false;
  }
  path = real;
  free(real);
  return true;
}

}  // namespace

bool ResolveOutput(const std::string& given, bool force, OutputTarget& target, std::string& error)
{
  target = OutputTarget();
  target.given = given;
  target.path = given;
  if (given == "-")
  {
    target.kind = OutputTarget::kStdout;
    return NotATerminal(STDOUT_FILENO, "standard output", error);
  }
  struct stat lst;
  if (lstat(given.c_str(), &lst) != 0)
  {
    if (errno == ENOENT) return true;
    error = "cannot write " + given + ": " + strerror(errno);
    return false;
  }
  const bool viaLink = S_ISLNK(lst.st_mode);
  struct stat st = lst;
  if (viaLink && stat(given.c_str(), &st) != 0)
  {
    if (errno != ENOENT)
    {
      error = "cannot write " + given + ": " + strerror(errno);
      return false;
    }
    // A link to nothing yet: the file is made where it points.
    return FollowDanglingLinks(given, target.path, error);
  }
  if (S_ISDIR(st.st_mode))
  {
    error = given + " is a folder; name a file";
    return false;
  }
  // /dev/stdout, or the file or pipe standard output already goes to.
  struct stat out;
  if (fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == st.st_dev && out.st_ino == st.st_ino)
  {
    target.kind = OutputTarget::kStdout;
    return NotATerminal(STDOUT_FILENO, given, error);
  }
  if (S_ISCHR(st.st_mode) && !NotATerminalDevice(given, error)) return false;
  if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
  {
    target.kind = OutputTarget::kDirect;
    return true;
  }
  if (!S_ISREG(st.st_mode))
  {
    error = given + (S_ISBLK(st.st_mode) ? " is a block device" : " is a socket") +
            "; tavlo-render writes files, FIFOs and character devices only";
    return false;
  }
  if (!force)
  {
    error = given + " already exists; add -y to replace it";
    return false;
  }
  if (viaLink && !RealPath(given, target.path, error)) return false;
  target.exists = true;
  return true;
}

PendingFile::PendingFile(const OutputTarget& target) : mTarget(target)
{
  if (!mTarget.stream) Init();
}

PendingFile::PendingFile(const std::string& path)
{
  mTarget.given = mTarget.path = path;
  Init();
}

void PendingFile::Init()
{
  // Made here, exclusively, so no file of anyone else's is ever written.
  std::string base;
  if (mTarget.kind == OutputTarget::kFile)
    base = Folder(mTarget.path) + "." + Base(mTarget.path) + ".partial-" + std::to_string((long)getpid());
  else
  {
    const char* tmp = getenv("TMPDIR");
    base = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavlo-render-" + std::to_string((long)getpid()) + "-out";
  }
  std::lock_guard<std::mutex> lock(gPendingLock);
  for (int attempt = 0; attempt < 100; ++attempt)
  {
    const std::string name = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0)
    {
      close(fd);
      mTemp = name;
      mSlot = ClaimSlot(mTemp);
      return;
    }
    if (errno != EEXIST) break;
  }
  mTempError = strerror(errno);
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard()
{
  std::lock_guard<std::mutex> lock(gPendingLock);
  if (!mDone && !mTemp.empty()) unlink(mTemp.c_str());
  mDone = true;
  ReleaseSlot(mSlot);
}

bool PendingFile::Commit(std::string& error)
{
  return CommitAll({this}, error);
}

// A file's temporary name renamed to its destination, a file there kept
// under a backup name until every file is committed.
bool PendingFile::RenameIntoPlace(std::string& error)
{
  const std::string& path = mTarget.path;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0)
  {
    // Something may have appeared while rendering: a rename only ever
    // replaces a regular file, and only one the user let us replace.
    if (!S_ISREG(st.st_mode) || !mTarget.exists)
    {
      error = Path() + (S_ISREG(st.st_mode) ? " appeared while rendering; add -y to replace it"
                                            : " is no longer a regular file; not replaced");
      return false;
    }
    const std::string backup = Folder(path) + "." + Base(path) + ".old-" + std::to_string((long)getpid());
    unlink(backup.c_str());
    if (link(path.c_str(), backup.c_str()) == 0) mBackup = backup;
  }
  if (rename(mTemp.c_str(), path.c_str()) != 0)
  {
    error = "cannot write " + Path() + ": " + strerror(errno);
    if (!mBackup.empty()) unlink(mBackup.c_str());
    mBackup.clear();
    return false;
  }
  mDone = true;  // the temporary name is gone
  return true;
}

// The temporary file copied to a FIFO, a character device or standard output.
bool PendingFile::WriteDirect(std::string& error)
{
  const bool toStdout = mTarget.kind == OutputTarget::kStdout;
  const int fd = toStdout ? STDOUT_FILENO : open(mTarget.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  std::string why;
  bool ok = fd >= 0;
  if (!ok) why = strerror(errno);
  if (ok) ok = CopyToFd(mTemp, fd, why);
  if (fd >= 0 && !toStdout && close(fd) != 0 && ok)
  {
    why = strerror(errno);
    ok = false;
  }
  if (!ok) error = "cannot write " + std::string(toStdout ? "standard output" : Path()) + ": " + why;
  return ok;
}

bool CommitAll(const std::vector<PendingFile*>& files, std::string& error)
{
  std::vector<PendingFile*> renamed;
  auto undo = [&]() {
    for (auto it = renamed.rbegin(); it != renamed.rend(); ++it)
    {
      PendingFile* f = *it;
      if (!f->mBackup.empty()) rename(f->mBackup.c_str(), f->mTarget.path.c_str());
      else unlink(f->mTarget.path.c_str());
      f->mBackup.clear();
    }
    for (PendingFile* f : files) f->Discard();
  };
  for (PendingFile* f : files)
    if (f->mDone || (f->mTemp.empty() && !f->mTarget.stream))
    {
      error = f->mDone ? "internal: " + f->Path() + " committed twice" : "cannot write " + f->Path();
      undo();
      return false;
    }

  for (PendingFile* f : files)
  {
    if (f->mTarget.kind != OutputTarget::kFile) continue;
    if (!f->RenameIntoPlace(error))
    {
      undo();
      return false;
    }
    renamed.push_back(f);
  }

  for (PendingFile* f : files)
  {
    if (f->mTarget.kind == OutputTarget::kFile || f->mTarget.stream) continue;
    if (!f->WriteDirect(error))
    {
      undo();
      return false;
    }
  }

  for (PendingFile* f : files)
  {
    if (!f->mBackup.empty()) unlink(f->mBackup.c_str());
    f->mBackup.clear();
    if (f->mTarget.kind != OutputTarget::kFile && !f->mTemp.empty()) unlink(f->mTemp.c_str());
    f->mDone = true;
    ReleaseSlot(f->mSlot);
  }
  return true;
}

void RemovePendingFilesNow()
{
  std::lock_guard<std::mutex> lock(gPendingLock);
  for (int i = 0; i < kMaxPending; ++i)
    if (gPendingUsed[i].load()) unlink(gPendingPaths[i]);
}

bool SameFile(const std::string& a, const std::string& b)
{
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string ReplacedInput(const std::string& output, const std::vector<ProtectedInput>& inputs)
{
  if (output == "-") return "";
  struct stat out;
  const bool exists = stat(output.c_str(), &out) == 0;
  for (const ProtectedInput& in : inputs)
  {
    if (in.path == "-")
    {
      struct stat st;
      if (exists && fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == out.st_dev &&
          st.st_ino == out.st_ino)
        return in.role;
      continue;
    }
    if (output == in.path || SameFile(output, in.path)) return in.role;
  }
  return "";
}

bool IsPngName(const std::string& path)
{
  return path == "-" || (path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".png") == 0);
}

bool RefuseOverAudio(const std::string& given, const OutputTarget& target, std::string& error)
{
  if (!target.exists || target.kind != OutputTarget::kFile) return true;
  SF_INFO info;
  memset(&info, 0, sizeof(info));
  SNDFILE* f = sf_open(target.path.c_str(), SFM_READ, &info);
  if (!f) return true;
  sf_close(f);
  error = given + " is an audio file; it is not replaced by a picture, a state or a preset, -y or not";
  return false;
}
