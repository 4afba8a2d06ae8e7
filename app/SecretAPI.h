// Owning handles for the GLib and libsecret objects the keyring code creates: each one is
// released by its own function on every path, as net/clCryptAPI.h does for OpenSSL.
#pragma once

#include <libsecret/secret.h>

#include <memory>
#include <string>

namespace kz {

template <auto Fn>
struct GFree {
  template <class T>
  void operator()(T* p) const noexcept {
    Fn(p);
  }
};

// GObjectPtr owns one reference to any GObject (a bus connection, a service, an item).
template <class T>
using GObjectPtr = std::unique_ptr<T, GFree<&g_object_unref>>;
using GHashTablePtr = std::unique_ptr<GHashTable, GFree<&g_hash_table_unref>>;
using GVariantPtr = std::unique_ptr<GVariant, GFree<&g_variant_unref>>;
using GCharPtr = std::unique_ptr<gchar, GFree<&g_free>>;
using SecretValuePtr = std::unique_ptr<SecretValue, GFree<&secret_value_unref>>;

// GObjectListPtr owns a GList of GObject references and the references in it.
struct GObjectListFree {
  void operator()(GList* p) const noexcept { g_list_free_full(p, g_object_unref); }
};
using GObjectListPtr = std::unique_ptr<GList, GObjectListFree>;

// GErrorSlot is the GError** that a GLib call fills; the error is owned afterwards.
class GErrorSlot {
 public:
  GErrorSlot() = default;
  ~GErrorSlot() {
    if (raw_)
      g_error_free(raw_);
  }
  GErrorSlot(const GErrorSlot&) = delete;
  GErrorSlot& operator=(const GErrorSlot&) = delete;
  GError** Out() noexcept { return &raw_; }
  explicit operator bool() const noexcept { return raw_ != nullptr; }
  const GError* get() const noexcept { return raw_; }
  std::string Message() const { return raw_ ? raw_->message : ""; }

 private:
  GError* raw_ = nullptr;
};

}  // namespace kz
