// TComponent: the free-notification of components that refer to each other without owning
// each other. When a component is destroyed, every component registered with it through
// FreeNotification hears of it (Notification) and forgets its pointer, so no reference is
// left pointing at a destroyed object. The registration goes both ways: whichever of the two
// is destroyed first tells the other and takes itself off the other's list.
//
// Notification runs inside the destructor of the component that goes away: by then only
// its TComponent part is alive, so a receiver compares the pointer and never calls into it.
// Components are used from one thread.
#pragma once

#include <algorithm>
#include <vector>

class TComponent {
 public:
  TComponent() = default;
  virtual ~TComponent() {
    // Every partner is told once and forgets this component; the list is moved out first,
    // so that a Notification that changes registrations cannot invalidate the loop.
    std::vector<TComponent*> partners = std::move(FFreeNotifies);
    for (TComponent* partner : partners) {
      partner->Forget(this);
      partner->Notification(this);
    }
  }
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // FreeNotification: AComponent hears when this component is destroyed (and this one when
  // AComponent is). Registering twice is registering once.
  void FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this)
      return;
    Remember(AComponent);
    AComponent->Remember(this);
  }
  // RemoveFreeNotification undoes FreeNotification in both directions.
  void RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr)
      return;
    Forget(AComponent);
    AComponent->Forget(this);
  }

 protected:
  // Notification: AComponent is being destroyed; a component that refers to it lets go.
  virtual void Notification(TComponent* AComponent) { (void)AComponent; }

 private:
  void Remember(TComponent* AComponent) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
      FFreeNotifies.push_back(AComponent);
  }
  void Forget(TComponent* AComponent) {
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                        FFreeNotifies.end());
  }

  std::vector<TComponent*> FFreeNotifies;
};
