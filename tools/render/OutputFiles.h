#pragma once

// The renderer's promise that it never destroys a file: outputs that exist
// are refused unless forced; each output is written under a temporary name
// and moved into place only when everything has succeeded; a rename only
// ever replaces a regular file (a symbolic link is written through to its
// target); FIFOs, character devices and standard output are written
// directly, at the very end.

#include <string>
#include <vector>

struct OutputTarget
{
  enum Kind
  {
    kFile,    // renamed into place at path
    kDirect,  // a FIFO or character device, opened and written at the end
    kStdout,  // standard output
  };
  std::string given;  // as on the command line, for messages
  std::string path;   // the regular file (links resolved) or the device
  Kind kind = kFile;
  bool exists = false;  // a regular file is there and will be replaced
  // Standard output that is a pipe (or a device), written as the render
  // goes so that a pipeline starts at once: no temporary file, nothing to
  // commit, and a render that fails part way leaves what it wrote.
  bool stream = false;
};

// Decides where an output goes. Without force, an existing regular file is
// refused; folders, block devices and sockets always are.
bool ResolveOutput(const std::string& given, bool force, OutputTarget& target, std::string& error);

// A file that appears at its destination only when committed.
class PendingFile
{
public:
  explicit PendingFile(const OutputTarget& target);
  explicit PendingFile(const std::string& path);  // a plain file target
  ~PendingFile();  // removes the temporary file unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Where the writer writes; empty when no temporary file could be made.
  const std::string& TempPath() const { return mTemp; }
  // Why there is no temporary file.
  const std::string& TempError() const { return mTempError; }
  const std::string& Path() const { return mTarget.given; }
  const OutputTarget& Target() const { return mTarget; }
  bool Commit(std::string& error);
  void Discard();

private:
  friend bool CommitAll(const std::vector<PendingFile*>& files, std::string& error);
  void Init();
  // The steps of CommitAll for one file; false with the message.
  bool RenameIntoPlace(std::string& error);
  bool WriteDirect(std::string& error);

  OutputTarget mTarget;
  std::string mTemp, mBackup, mTempError;
  bool mDone = false, mRenamed = false;
  int mSlot = -1;
};

// Commits files so that all of them appear or none: renames first (undone
// if a later one fails, replaced files restored), then the direct writes.
bool CommitAll(const std::vector<PendingFile*>& files, std::string& error);

// Removes every uncommitted temporary file, waiting for one being made to
// be listed first; not for a signal handler (see WatchStopSignals).
void RemovePendingFilesNow();

// Same file on disk (device and inode); false when either does not exist.
bool SameFile(const std::string& a, const std::string& b);

// A file a render reads, which no output of it may replace, -y or not.
struct ProtectedInput
{
  std::string role;  // for messages: "INPUT", "the --sidechain file"
  std::string path;  // "-": whatever file standard input comes from
};
// The role of the input that writing output would replace; empty when none.
std::string ReplacedInput(const std::string& output, const std::vector<ProtectedInput>& inputs);

// Whether a picture's name ends in .png (any case), or is "-".
bool IsPngName(const std::string& path);

// A picture, a state or a preset never takes the place of audio, -y or not:
// false, with the reason, when the existing file target resolved to holds
// audio that libsndfile reads (a take named by mistake).
bool RefuseOverAudio(const std::string& given, const OutputTarget& target, std::string& error);
