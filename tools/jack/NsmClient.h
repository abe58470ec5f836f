#pragma once

// A client of the Non Session Manager protocol (OSC over UDP, liblo): it
// announces the program to the server named by NSM_URL, and hands the
// server's requests (open a session folder, save, show or hide the
// editor) to the program, answering each. Everything runs on the main
// thread: Fd() is watched, Receive reads what arrived.

#include <functional>
#include <string>

class NsmClient
{
public:
  NsmClient() = default;
  ~NsmClient();
  NsmClient(const NsmClient&) = delete;
  NsmClient& operator=(const NsmClient&) = delete;

  // The server's answers; each returns false with a message on failure.
  // open: the path the session gives this client (a folder to make and
  // keep files in), and the client id, which is the JACK client name.
  std::function<bool(const std::string& path, const std::string& clientId, std::string& message)> onOpen;
  std::function<bool(std::string& message)> onSave;
  std::function<void()> onShowGui, onHideGui;

  // Announces to url (NSM_URL) with the optional-gui and dirty
  // capabilities; false with the reason.
  bool Announce(const std::string& url, const char* appName, const char* executable, std::string& error);
  int Fd() const;
  // Handles every message waiting; none waits for more.
  void Receive();
  // Waits up to ms for messages and handles them.
  void ReceiveFor(int ms);
  bool Opened() const { return mOpened; }
  // Whether the server answered the announcement, and its name.
  bool Acknowledged() const { return mAcknowledged; }
  const std::string& ServerName() const { return mServerName; }

  void ReportDirty(bool dirty);
  void ReportGuiShown(bool shown);

  // One message from the session manager (argv: liblo's arguments).
  void Handle(const char* path, const char* types, void** argv, int argc);

private:
  void Reply(const char* path, const std::string& message);
  void Error(const char* path, int code, const std::string& message);

  void* mServer = nullptr;   // lo_server
  void* mAddress = nullptr;  // lo_address of the session manager
  bool mOpened = false;
  bool mAcknowledged = false;
  std::string mServerName;
  int mDirty = -1;  // as last reported: -1 none yet
};
