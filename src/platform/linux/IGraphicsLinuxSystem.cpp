// The editor host's links to the rest of the desktop: folders, file
// prompts through a dialog program, URL opening and the clipboard.

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "kit/KitString.h"
#include "platform/linux/IGraphicsLinux.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

extern char** environ;

namespace {

std::string Home()
{
  const char* h = getenv("HOME");
  return h ? h : "";
}

std::string Parent(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The folder a program of that name would be run from, or "".
std::string FindProgram(const char* name)
{
  const char* path = getenv("PATH");
  if (!path) return "";
  std::string all = path;
  size_t start = 0;
  while (start <= all.size())
  {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string dir = all.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// Runs a program and collects what it prints; false when it cannot run or
// ends with a non-zero status.
bool RunAndRead(const std::vector<std::string>& args, std::string* out)
{
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (rc != 0)
  {
    close(fds[0]);
    return false;
  }
  char buf[1024];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) out->append(buf, (size_t)n);
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Reads XDG_<name>_DIR from the user-dirs file, "$HOME/..." expanded.
std::string XdgUserDir(const char* name)
{
  const char* config = getenv("XDG_CONFIG_HOME");
  const std::string file = (config && *config ? std::string(config) : Home() + "/.config") + "/user-dirs.dirs";
  std::ifstream in(file);
  const std::string key = std::string("XDG_") + name + "_DIR=";
  std::string line;
  while (std::getline(in, line))
  {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string v = line.substr(key.size());
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.compare(0, 5, "$HOME") == 0) v = Home() + v.substr(5);
    if (!v.empty() && v[0] == '/') return v;
  }
  return "";
}

}  // namespace

void IGraphicsLinux::HostPath(KitString* pPath)
{
  if (!pPath) return;
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return;
  buf[n] = 0;
  pPath->Set(buf);
}

void IGraphicsLinux::PluginPath(KitString* pPath)
{
  if (!pPath) return;
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&IGraphicsLinux::KeySymToEditorKey), &info) || !info.dli_fname ||
      !*info.dli_fname)
    return;
  // <folder>/Tavlo.vst3/Contents/x86_64-linux/Tavlo.so: the folder holding
  // the bundle, as for a bundle elsewhere; code outside a bundle gives the
  // folder of its own file.
  char resolved[PATH_MAX];
  std::string so = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
  std::string arch = Parent(so), contents = Parent(arch), bundle = Parent(contents);
  std::string folder;
  if (Parent(so).size() && contents.size() > 9 && contents.compare(contents.size() - 9, 9, "/Contents") == 0 &&
      bundle.size() > 5 && bundle.compare(bundle.size() - 5, 5, ".vst3") == 0)
    folder = Parent(bundle);
  else
    folder = Parent(so);
  pPath->Set((folder + "/").c_str());
}

void IGraphicsLinux::DesktopPath(KitString* pPath)
{
  if (!pPath) return;
  std::string d = XdgUserDir("DESKTOP");
  if (d.empty())
  {
    if (Home().empty()) return;
    d = Home() + "/Desktop";
  }
  pPath->Set(d.c_str());
}

void IGraphicsLinux::AppSupportPath(KitString* pPath, bool isSystem)
{
  if (!pPath) return;
  if (isSystem)
  {
    const char* dirs = getenv("XDG_DATA_DIRS");
    std::string first = dirs && *dirs ? std::string(dirs).substr(0, std::string(dirs).find(':')) : "";
    pPath->Set(first.empty() ? "/usr/local/share" : first.c_str());
    return;
  }
  const char* data = getenv("XDG_DATA_HOME");
  if (data && *data == '/')
    pPath->Set(data);
  else if (!Home().empty())
    pPath->Set((Home() + "/.local/share").c_str());
}

void IGraphicsLinux::SandboxSafeAppSupportPath(KitString* pPath)
{
  if (!pPath || Home().empty()) return;
  pPath->Set((Home() + "/Music").c_str());
}

void IGraphicsLinux::PromptForFile(KitString* pFilename, EFileAction action, KitString* pDir, const char* extensions)
{
  if (!pFilename) return;
  if (!mDisplay)
  {
    pFilename->Set("");
    return;
  }
  const std::string defaultName = pFilename->Get() ? pFilename->Get() : "";
  std::string dir = pDir && pDir->Get() ? pDir->Get() : "";
  if (dir.empty())
  {
    dir = "~/Desktop";
    if (pDir) pDir->Set(dir.c_str());
  }
  pFilename->Set("");
  const std::string dirOnDisk = dir[0] == '~' ? Home() + dir.substr(1) : dir;

  std::vector<std::string> types;
  {
    std::string all = extensions ? extensions : "", cur;
    for (char c : all + " ")
    {
      if (c == ' ')
      {
        if (!cur.empty()) types.push_back(cur);
        cur.clear();
      }
      else
        cur += c;
    }
  }

  std::vector<std::string> args;
  std::string start = dirOnDisk;
  if (!start.empty() && start.back() != '/') start += '/';
  start += defaultName;
  if (std::string zenity = FindProgram("zenity"); !zenity.empty())
  {
    args = {zenity, "--file-selection", "--filename=" + start};
    if (action == kFileSave) args.push_back("--save"), args.push_back("--confirm-overwrite");
    if (!types.empty())
    {
      std::string filter = "--file-filter=";
      for (size_t i = 0; i < types.size(); ++i) filter += (i ? " *." : "*.") + types[i];
      args.push_back(filter);
    }
  }
  else if (std::string kdialog = FindProgram("kdialog"); !kdialog.empty())
  {
    std::string filter;
    for (size_t i = 0; i < types.size(); ++i) filter += (i ? " *." : "*.") + types[i];
    args = {kdialog, action == kFileSave ? "--getsavefilename" : "--getopenfilename", start};
    if (!filter.empty()) args.push_back(filter);
  }
  else
    return;  // no dialog program: nothing chosen

  std::string out;
  if (!RunAndRead(args, &out)) return;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (out.empty() || out[0] != '/') return;
  if (action != kFileSave)
  {
    struct stat st;
    if (stat(out.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;  // files only
  }
  pFilename->Set(out.c_str());
  if (pDir) pDir->Set((Parent(out) + "/").c_str());
}

bool IGraphicsLinux::OpenURL(const char* url, const char*, const char*, const char*)
{
  if (!url || !*url) return true;
  std::string target = url;
  if (!strstr(url, "http") && target.compare(0, 5, "file:") != 0)
  {
    if (target[0] != '/') return true;  // no file URL can be formed
    target = "file://" + target;
  }
  const std::string opener = FindProgram("xdg-open");
  if (opener.empty()) return false;
  // Detached: the editor must not wait for a browser, nor leave a zombie.
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0)
  {
    const pid_t grandchild = fork();
    if (grandchild == 0)
    {
      execl(opener.c_str(), opener.c_str(), target.c_str(), (char*)nullptr);
      _exit(127);
    }
    _exit(grandchild > 0 ? 0 : 1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool IGraphicsLinux::GetTextFromClipboard(KitString* pStr)
{
  if (!pStr) return false;
  pStr->Set("");
  const bool own = !mDisplay;
  Display* dpy = own ? XOpenDisplay(nullptr) : static_cast<Display*>(mDisplay);
  if (!dpy) return false;
  if (own) IGraphicsLinuxAddOwnDisplay(dpy);
  const Atom clipboard = XInternAtom(dpy, "CLIPBOARD", False);
  const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  const Atom prop = XInternAtom(dpy, "TAVLO_CLIPBOARD", False);
  bool ok = false;
  if (XGetSelectionOwner(dpy, clipboard) != None)
  {
    // A window of our own receives the converted text.
    const Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    XConvertSelection(dpy, clipboard, utf8, prop, w, CurrentTime);
    XFlush(dpy);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::vector<XEvent> others;
    while (std::chrono::steady_clock::now() < deadline)
    {
      XEvent ev;
      if (XCheckTypedWindowEvent(dpy, w, SelectionNotify, &ev))
      {
        if (ev.xselection.property != None)
        {
          Atom type;
          int format;
          unsigned long n, left;
          unsigned char* data = nullptr;
          if (XGetWindowProperty(dpy, w, prop, 0, 1 << 20, True, AnyPropertyType, &type, &format, &n, &left,
                                 &data) == Success &&
              data && format == 8 && (type == utf8 || type == XA_STRING))
          {
            std::string s(reinterpret_cast<char*>(data), n);
            pStr->Set(s.c_str());
            ok = true;
          }
          if (data) XFree(data);
        }
        break;
      }
      pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
      poll(&p, 1, 20);
    }
    XDestroyWindow(dpy, w);
    XFlush(dpy);
  }
  if (own)
  {
    IGraphicsLinuxRemoveOwnDisplay(dpy);
    XCloseDisplay(dpy);
  }
  return ok;
}
