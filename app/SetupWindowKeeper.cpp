#include "app/SetupWindowKeeper.h"

#include <malloc.h>

#include <utility>

#include "app/UN_MAIN.h"

SetupWindowKeeper::SetupWindowKeeper(QObject* parent) : QObject(parent) {
  release_.setSingleShot(true);
  connect(&release_, &QTimer::timeout, this, [this] { Release(); });
}

SetupWindowKeeper::~SetupWindowKeeper() = default;

void SetupWindowKeeper::SetFactory(Factory factory, Made made, std::chrono::milliseconds keep) {
  factory_ = std::move(factory);
  made_ = std::move(made);
  release_.setInterval(keep);
}

Tfrm_main* SetupWindowKeeper::Get() {
  if (form_ || !factory_)
    return form_.get();
  form_ = factory_();
  // Closed, the window goes after the keeping time; made for a send of the schedule and
  // never shown, it goes the same way once the send is over.
  connect(form_.get(), &QDialog::finished, &release_, qOverload<>(&QTimer::start));
  release_.start();
  if (made_)
    made_(form_.get());
  return form_.get();
}

void SetupWindowKeeper::Release() {
  if (!form_ || form_->isVisible())
    return;
  if (form_->Busy()) {
    release_.start();
    return;
  }
  form_.reset();
  // The window's many small blocks go back to the allocator, which keeps the pages unless
  // asked to return what it can.
  ::malloc_trim(0);
}
