// SetupWindowKeeper: the setup window, made when it is first needed and released a while
// after it was closed. The tray program sits idle for days between sends; a window built at
// start would hold its widgets, the font database it measured text with and the send
// components' tables all that time, several megabytes a program that only waits need not
// carry.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class Tfrm_main;

class SetupWindowKeeper : public QObject {
 public:
  using Factory = std::function<std::unique_ptr<Tfrm_main>()>;
  using Made = std::function<void(Tfrm_main*)>;

  explicit SetupWindowKeeper(QObject* parent = nullptr);
  ~SetupWindowKeeper() override;

  // SetFactory sets how a window is made, what is told of each new one, and how long a
  // hidden window is kept.
  void SetFactory(Factory factory, Made made, std::chrono::milliseconds keep);
  // Get answers the window, made now when there is none (null without a factory).
  Tfrm_main* Get();
  // Release drops the window when it is hidden and no dialogue runs in it; a window still in
  // use is looked at again after the keeping time.
  void Release();

 private:
  Factory factory_;
  Made made_;
  std::unique_ptr<Tfrm_main> form_;
  QTimer release_;
};
