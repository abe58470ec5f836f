#include "NsmClient.h"

#include <lo/lo.h>
#include <unistd.h>

#include <cstring>

namespace {

lo_server Server(void* p) { return static_cast<lo_server>(p); }
lo_address Address(void* p) { return static_cast<lo_address>(p); }

// The protocol's version this client speaks, and its error codes.
constexpr int kApiMajor = 1, kApiMinor = 2;
constexpr int kErrGeneral = -1, kErrSaveFailed = -4;

void QuietLoError(int, const char*, const char*) {}

std::string Arg(const char* types, void** argv, int argc, int i)
{
  // OSC aligns arguments to 4 bytes, lo_arg to 8: the string's bytes are
  // read, not the union's member.
  return i < argc && (types[i] == 's' || types[i] == 'S') ? std::string(static_cast<const char*>(argv[i])) : "";
}

int OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* user)
{
  static_cast<NsmClient*>(user)->Handle(path, types, reinterpret_cast<void**>(argv), argc);
  return 0;
}

}  // namespace

NsmClient::~NsmClient()
{
  if (mAddress) lo_address_free(Address(mAddress));
  if (mServer) lo_server_free(Server(mServer));
}

bool NsmClient::Announce(const std::string& url, const char* appName, const char* executable, std::string& error)
{
  lo_address address = lo_address_new_from_url(url.c_str());
  if (!address)
  {
    error = "NSM_URL '" + url + "' is no OSC address";
    return false;
  }
  mAddress = address;
  // The same protocol as the session manager's, on any free port.
  lo_server server = lo_server_new_with_proto(nullptr, lo_address_get_protocol(address), QuietLoError);
  if (!server)
  {
    error = "no OSC socket for the session manager";
    return false;
  }
  mServer = server;
  lo_server_add_method(server, nullptr, nullptr, OnMessage, this);
  const int rc = lo_send_from(address, server, LO_TT_IMMEDIATE, "/nsm/server/announce", "sssiii", appName,
                              ":optional-gui:dirty:", executable, kApiMajor, kApiMinor, (int)getpid());
  if (rc < 0)
  {
    error = "cannot reach the session manager at " + url;
    return false;
  }
  return true;
}

int NsmClient::Fd() const { return mServer ? lo_server_get_socket_fd(Server(mServer)) : -1; }

void NsmClient::Receive()
{
  if (!mServer) return;
  while (lo_server_recv_noblock(Server(mServer), 0) > 0)
  {
  }
}

void NsmClient::ReceiveFor(int ms)
{
  if (mServer && lo_server_recv_noblock(Server(mServer), ms) > 0) Receive();
}

void NsmClient::Handle(const char* path, const char* types, void** argv, int argc)
{
  NsmClient* self = this;
  if (!strcmp(path, "/reply") && Arg(types, argv, argc, 0) == "/nsm/server/announce")
  {
    self->mAcknowledged = true;
    self->mServerName = Arg(types, argv, argc, 2);
  }
  else if (!strcmp(path, "/nsm/client/open"))
  {
    // path prefix, display name, client id
    std::string message = "opened";
    const bool ok = self->onOpen && self->onOpen(Arg(types, argv, argc, 0), Arg(types, argv, argc, 2), message);
    if (ok)
    {
      self->mOpened = true;
      self->mDirty = -1;
      self->Reply(path, message);
      self->ReportDirty(false);
    }
    else
      self->Error(path, kErrGeneral, message);
  }
  else if (!strcmp(path, "/nsm/client/save"))
  {
    std::string message = "saved";
    if (self->onSave && self->onSave(message))
    {
      self->Reply(path, message);
      self->ReportDirty(false);
    }
    else
      self->Error(path, kErrSaveFailed, message);
  }
  else if (!strcmp(path, "/nsm/client/show_optional_gui"))
  {
    if (self->onShowGui) self->onShowGui();
  }
  else if (!strcmp(path, "/nsm/client/hide_optional_gui"))
  {
    if (self->onHideGui) self->onHideGui();
  }
}

void NsmClient::Reply(const char* path, const std::string& message)
{
  lo_send_from(Address(mAddress), Server(mServer), LO_TT_IMMEDIATE, "/reply", "ss", path, message.c_str());
}

void NsmClient::Error(const char* path, int code, const std::string& message)
{
  lo_send_from(Address(mAddress), Server(mServer), LO_TT_IMMEDIATE, "/error", "sis", path, code, message.c_str());
}

void NsmClient::ReportDirty(bool dirty)
{
  // Only changes are news; the manager marks the session as it is told.
  if (!mServer || !mOpened || mDirty == (int)dirty) return;
  mDirty = dirty;
  lo_send_from(Address(mAddress), Server(mServer), LO_TT_IMMEDIATE, dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean",
               "");
}

void NsmClient::ReportGuiShown(bool shown)
{
  if (!mServer) return;
  lo_send_from(Address(mAddress), Server(mServer), LO_TT_IMMEDIATE,
               shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden", "");
}
