#include "app/SecretStore.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

#include "app/SecretAPI.h"

namespace keyring {
namespace {

constexpr const char* kSecretsName = "org.freedesktop.secrets";

// The item's schema. Its attributes are the ones a user types into `secret-tool lookup`.
const SecretSchema& Schema() {
  static const SecretSchema schema = {"cz.kadenza.SmtpPassword",
                                      SECRET_SCHEMA_NONE,
                                      {
                                          {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                          {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                      },
                                      0,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr};
  return schema;
}

// Attributes is the hash table of an account's attributes, pointing into strings it owns.
class Attributes {
 public:
  explicit Attributes(const Account& account)
      : values_{std::string(kService), account.host, account.user, std::string(kApplication)},
        table_(g_hash_table_new(g_str_hash, g_str_equal)) {
    static constexpr std::array<const char*, 4> kNames = {"service", "host", "user", "application"};
    for (std::size_t i = 0; i < kNames.size(); ++i)
      g_hash_table_insert(table_.get(), const_cast<char*>(kNames[i]), values_[i].data());
  }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;
  GHashTable* Get() const { return table_.get(); }

 private:
  std::array<std::string, 4> values_;
  kz::GHashTablePtr table_;
};

// Deadline cancels every GLib call made with its cancellable once the limit has passed, from
// a watcher thread: a keyring that never answers (or a prompt nobody answers) ends there.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds limit)
      : cancellable_(g_cancellable_new()),
        end_(std::chrono::steady_clock::now() + limit),
        watcher_([this](std::stop_token stop) {
          std::mutex m;
          std::unique_lock lock(m);
          std::condition_variable_any wake;
          wake.wait_until(lock, stop, end_, [] { return false; });
          if (!stop.stop_requested())
            g_cancellable_cancel(cancellable_.get());
        }) {}
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  GCancellable* Cancellable() const { return cancellable_.get(); }
  // RemainingMs is what is left of the limit, for calls that take a timeout of their own.
  int RemainingMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 1));
  }

 private:
  kz::GObjectPtr<GCancellable> cancellable_;
  std::chrono::steady_clock::time_point end_;
  std::jthread watcher_;  // last: stopped and joined before the cancellable goes
};

bool IsProviderMissing(const GError* e) {
  if (e->domain != G_DBUS_ERROR)
    return false;
  switch (e->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
    case G_DBUS_ERROR_SPAWN_FORK_FAILED:
    case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
    case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
    case G_DBUS_ERROR_SPAWN_FAILED:
    case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
    case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
    case G_DBUS_ERROR_SPAWN_FILE_INVALID:
    case G_DBUS_ERROR_SPAWN_NO_MEMORY:
      return true;
    default:
      return false;
  }
}

// Raise turns a GLib error of a keyring call into EKeyringError.
[[noreturn]] void Raise(const kz::GErrorSlot& error) {
  const GError* e = error.get();
  if (!e)
    throw EKeyringError(Failure::kOther);
  if (g_error_matches(e, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
      g_error_matches(e, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
      g_error_matches(e, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
      g_error_matches(e, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
      g_error_matches(e, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY))
    throw EKeyringError(Failure::kTimedOut);
  if (IsProviderMissing(e))
    throw EKeyringError(Failure::kNoProvider);
  if (g_error_matches(e, SECRET_ERROR, SECRET_ERROR_IS_LOCKED))
    throw EKeyringError(Failure::kLocked);
  throw EKeyringError(Failure::kOther, e->message);
}

// SessionBus connects to the session bus and checks that a Secret Service is on it (running
// or started on demand by the bus).
kz::GObjectPtr<GDBusConnection> SessionBus(const Deadline& deadline) {
  kz::GErrorSlot error;
  kz::GObjectPtr<GDBusConnection> bus(
      g_bus_get_sync(G_BUS_TYPE_SESSION, deadline.Cancellable(), error.Out()));
  if (!bus) {
    if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
      Raise(error);
    throw EKeyringError(Failure::kNoBus);
  }
  // A session bus that goes away must not end the program (GLib's default for it).
  g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
  const auto ask = [&](const char* method, GVariant* args) {
    kz::GErrorSlot callError;
    kz::GVariantPtr reply(g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
        args, nullptr, G_DBUS_CALL_FLAGS_NONE, deadline.RemainingMs(), deadline.Cancellable(),
        callError.Out()));
    if (!reply)
      Raise(callError);
    return reply;
  };
  gboolean owned = FALSE;
  g_variant_get(ask("NameHasOwner", g_variant_new("(s)", kSecretsName)).get(), "(b)", &owned);
  if (owned)
    return bus;
  kz::GVariantPtr names = ask("ListActivatableNames", nullptr);
  GVariantIter* iter = nullptr;
  g_variant_get(names.get(), "(as)", &iter);
  bool activatable = false;
  const gchar* name = nullptr;
  while (g_variant_iter_loop(iter, "&s", &name)) {
    if (g_strcmp0(name, kSecretsName) == 0)
      activatable = true;
  }
  g_variant_iter_free(iter);
  if (!activatable)
    throw EKeyringError(Failure::kNoProvider);
  return bus;
}

// Service opens a Secret Service connection of its own (with a session for the secrets),
// after SessionBus has told the cases without a keyring apart.
kz::GObjectPtr<SecretService> OpenService(const Deadline& deadline) {
  const kz::GObjectPtr<GDBusConnection> bus = SessionBus(deadline);
  kz::GErrorSlot error;
  kz::GObjectPtr<SecretService> service(
      secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION,
                               deadline.Cancellable(), error.Out()));
  if (!service)
    Raise(error);
  return service;
}

// Unlock asks the keyring to unlock `objects` (it may prompt the user); a refusal, or a
// prompt the user dismisses, leaves the keyring locked.
void Unlock(SecretService* service, GList* objects, const Deadline& deadline) {
  kz::GErrorSlot error;
  GList* unlocked = nullptr;
  const gint count =
      secret_service_unlock_sync(service, objects, deadline.Cancellable(), &unlocked, error.Out());
  const kz::GObjectListPtr owned(unlocked);
  if (error)
    Raise(error);
  if (count <= 0)
    throw EKeyringError(Failure::kLocked);
}

// UnlockDefault unlocks the default collection when it exists and is locked.
void UnlockDefault(SecretService* service, const Deadline& deadline) {
  kz::GErrorSlot error;
  kz::GObjectPtr<SecretCollection> collection(
      secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                       deadline.Cancellable(), error.Out()));
  if (error)
    Raise(error);
  if (!collection || !secret_collection_get_locked(collection.get()))
    return;
  GList one{collection.get(), nullptr, nullptr};
  Unlock(service, &one, deadline);
}

std::string Label(const Account& account) {
  return "Kadenza: " + account.user + " @ " + account.host;
}

}  // namespace

std::string FailureText(Failure failure, std::string_view detail) {
  switch (failure) {
    case Failure::kNoBus:
      return "Klíčenka není dostupná: program neběží v sezení s D-Bus (například z cronu).";
    case Failure::kNoProvider:
      return "Klíčenka není dostupná: v sezení neběží žádná služba klíčenky (Secret Service).";
    case Failure::kLocked:
      return "Klíčenka je zamčená a nebyla odemčena.";
    case Failure::kTimedOut:
      return "Klíčenka neodpověděla včas.";
    case Failure::kOther:
      break;
  }
  std::string text = "Klíčenka ohlásila chybu";
  if (!detail.empty())
    text.append(": ").append(detail);
  return text + ".";
}

void Store(const Account& account, std::string_view password, std::chrono::milliseconds limit) {
  const Deadline deadline(limit);
  const kz::GObjectPtr<SecretService> service = OpenService(deadline);
  UnlockDefault(service.get(), deadline);
  const Attributes attributes(account);
  const kz::SecretValuePtr value(
      secret_value_new(password.data(), static_cast<gssize>(password.size()), "text/plain"));
  kz::GErrorSlot error;
  // Storing with the same attributes replaces the account's earlier item.
  if (!secret_service_store_sync(service.get(), &Schema(), attributes.Get(),
                                 SECRET_COLLECTION_DEFAULT, Label(account).c_str(), value.get(),
                                 deadline.Cancellable(), error.Out()))
    Raise(error);
}

std::optional<std::string> Lookup(const Account& account, std::chrono::milliseconds limit) {
  const Deadline deadline(limit);
  const kz::GObjectPtr<SecretService> service = OpenService(deadline);
  const Attributes attributes(account);
  kz::GErrorSlot error;
  // Searched without unlocking, so that a locked item is told from a missing one.
  kz::GObjectListPtr items(secret_service_search_sync(service.get(), &Schema(), attributes.Get(),
                                                      SECRET_SEARCH_ALL, deadline.Cancellable(),
                                                      error.Out()));
  if (error)
    Raise(error);
  if (!items)
    return std::nullopt;
  auto* item = static_cast<SecretItem*>(items->data);
  if (secret_item_get_locked(item)) {
    GList one{item, nullptr, nullptr};
    Unlock(service.get(), &one, deadline);
  }
  kz::GErrorSlot loadError;
  if (!secret_item_load_secret_sync(item, deadline.Cancellable(), loadError.Out()))
    Raise(loadError);
  const kz::SecretValuePtr value(secret_item_get_secret(item));
  if (!value)
    throw EKeyringError(Failure::kLocked);
  gsize length = 0;
  const gchar* bytes = secret_value_get(value.get(), &length);
  return std::string(bytes, length);
}

bool Clear(const Account& account, std::chrono::milliseconds limit) {
  const Deadline deadline(limit);
  const kz::GObjectPtr<SecretService> service = OpenService(deadline);
  const Attributes attributes(account);
  kz::GErrorSlot error;
  const bool removed = secret_service_clear_sync(service.get(), &Schema(), attributes.Get(),
                                                 deadline.Cancellable(), error.Out());
  if (error)
    Raise(error);
  return removed;
}

void Probe(std::chrono::milliseconds limit) {
  const Deadline deadline(limit);
  OpenService(deadline);
}

}  // namespace keyring
