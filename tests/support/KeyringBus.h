// KeyringBus: a private D-Bus session bus for one test, with GNOME Keyring on it (started
// with `gnome-keyring-daemon --unlock`, its keyring unlocked), with no keyring service at
// all, or with a Secret Service that takes every call and never answers. While it lives,
// DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR point at it; the keyring files go to
// $XDG_DATA_HOME/keyrings, so a TempHome must be made first. Everything it started is
// stopped and its folder removed at the end.
#pragma once

#include <fcntl.h>
// Qt's "signals" keyword is a macro that GIO's headers use as a field name.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/ScopedEnv.h"

extern char** environ;

namespace testsupport {

class KeyringBus {
 public:
  enum class Provider { kGnomeKeyring, kNone, kHung };

  // The password the test keyring is created and unlocked with.
  static constexpr const char* kLoginPassword = "klicenka-test";

  explicit KeyringBus(Provider provider = Provider::kGnomeKeyring) {
    char pattern[] = "/tmp/kz-keyring-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    std::filesystem::create_directories(dir_ / "run");
    std::filesystem::permissions(dir_ / "run", std::filesystem::perms::owner_all);
    // No service folders: nothing is started on demand, so "no provider" means none.
    std::ofstream(dir_ / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:dir=" +
               dir_.string() +
               "</listen>"
               "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
               "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
               "</busconfig>\n";
    runtime_.emplace("XDG_RUNTIME_DIR", (dir_ / "run").string());
    int out = -1;
    bus_ = Spawn({"dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
                  "--print-address=1"},
                 nullptr, &out);
    address_ = ReadLine(out);
    ::close(out);
    if (address_.empty())
      return;
    address_env_.emplace("DBUS_SESSION_BUS_ADDRESS", address_);
    if (provider == Provider::kGnomeKeyring) {
      int in = -1;
      provider_ =
          Spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"}, &in,
                nullptr);
      const std::string password = kLoginPassword;
      [[maybe_unused]] const ssize_t n = ::write(in, password.data(), password.size());
      ::close(in);
    } else if (provider == Provider::kHung) {
      int hungOut = -1;
      provider_ = Spawn({"/usr/bin/python3", HungServiceScript(), address_}, nullptr, &hungOut);
      ReadLine(hungOut);
      ::close(hungOut);
    }
    ready_ = provider == Provider::kNone || WaitForProvider();
  }
  ~KeyringBus() {
    for (pid_t pid : {provider_, bus_}) {
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
    address_env_.reset();
    runtime_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  KeyringBus(const KeyringBus&) = delete;
  KeyringBus& operator=(const KeyringBus&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Address() const { return address_; }

  // Lock locks the login keyring, as a screen lock or a login without its password does.
  bool Lock() const {
    return Call(
        "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "Lock",
        g_variant_new_parsed("([objectpath '/org/freedesktop/secrets/collection/login'],)"));
  }

  // SecretTool runs `secret-tool` with `args` on this bus and answers its standard output,
  // or nothing when it fails (for lookup: no such item).
  std::optional<std::string> SecretTool(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"secret-tool"};
    argv.insert(argv.end(), args.begin(), args.end());
    int out = -1;
    const pid_t pid = Spawn(argv, nullptr, &out);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    ::close(out);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      return std::nullopt;
    return text;
  }
  std::optional<std::string> Lookup(const std::string& host, const std::string& user) const {
    return SecretTool({"lookup", "service", "smtp", "host", host, "user", user});
  }

 private:
  static std::string HungServiceScript() { return TEST_SUPPORT_DIR "/hung_secret_service.py"; }

  // Spawn starts argv[0] (found on PATH); `in` and `out` receive pipes to its standard input
  // and from its standard output when given.
  static pid_t Spawn(const std::vector<std::string>& args, int* in, int* out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1};
    if (in && ::pipe2(inPipe, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
      *in = inPipe[1];
    }
    if (out && ::pipe2(outPipe, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
      *out = outPipe[0];
    }
    std::vector<char*> argv;
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
      pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {inPipe[0], outPipe[1]}) {
      if (fd >= 0)
        ::close(fd);
    }
    return pid;
  }

  static std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }

  // Call makes one method call on a connection of its own to the bus (never the process's
  // shared session connection, which the code under test uses).
  bool Call(const char* name, const char* path, const char* interface, const char* method,
            GVariant* args, bool* result = nullptr) const {
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus) {
      g_variant_unref(g_variant_ref_sink(args));
      return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(bus, name, path, interface, method, args, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    const bool ok = reply != nullptr;
    if (reply && result) {
      gboolean b = FALSE;
      g_variant_get(reply, "(b)", &b);
      *result = b;
    }
    if (reply)
      g_variant_unref(reply);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return ok;
  }

  bool WaitForProvider() const {
    for (int i = 0; i < 200; ++i) {
      bool owned = false;
      if (Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
               "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), &owned) &&
          owned)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  std::filesystem::path dir_;
  std::optional<EnvForScope> runtime_, address_env_;
  std::string address_;
  pid_t bus_ = -1;
  pid_t provider_ = -1;
  bool ready_ = false;
};

// NoKeyring puts a test into one of the states in which no keyring answers, named as the
// state rows name them: "NoSessionBus" (a bus address that leads nowhere, as under cron),
// "NoProvider" (a bus of its own with no Secret Service on it) or "Locked" (`keyring`
// locked). Entered after the password went into the keyring; the state lasts as long as
// the object.
class NoKeyring {
 public:
  // Enter answers false when the keyring could not be locked.
  [[nodiscard]] bool Enter(const std::string& state, const KeyringBus& keyring) {
    if (state == "NoSessionBus")
      noBus_.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kz-no-bus");
    else if (state == "NoProvider")
      other_.emplace(KeyringBus::Provider::kNone);
    else
      return keyring.Lock();
    return true;
  }

 private:
  std::optional<EnvForScope> noBus_;
  std::optional<KeyringBus> other_;
};

}  // namespace testsupport
