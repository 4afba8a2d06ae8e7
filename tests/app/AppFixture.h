// A running application for window tests: a private home with an unlocked keyring on a
// private session bus (as on a desktop), the main part and the setup window, messages
// captured instead of shown, questions recorded and answered, balloons recorded, a settable
// clock.
#pragma once

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <chrono>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "TempHome.h"
#include "app/Dialogs.h"
#include "app/IniFile.h"
#include "app/MAIN_UM.h"
#include "app/SettingsStore.h"
#include "app/UN_MAIN.h"
#include "support/KeyringBus.h"

class AppFixture : public testing::Test {
 protected:
  AppFixture() {
    dialogs::SetMessageSink([this](dialogs::MessageKind kind, const QString& text) {
      messages.emplace_back(kind, text);
    });
    dialogs::SetQuestionSink([this](const QString& question) {
      questions.push_back(question);
      return answer;
    });
    form = std::make_unique<Tfrm_main>();
    StartMain();
  }
  // StartMain makes the main part (again: a restart of the program, the window kept).
  void StartMain() {
    main.reset();  // the old one goes first: it puts back what it had installed
    main = std::make_unique<Tmain>();
    main->CreateTray();
    main->SetSetupForm(form.get());
    main->clock = [this] { return now; };
    main->showSetupModal = [this] { ++modalShows; };
    main->executablePath = QStringLiteral("/usr/local/bin/Kadenza.bin");
    QObject::connect(main.get(), &Tmain::BalloonShown,
                     [this](const QString& title, const QString& text, int ms) {
                       balloons.push_back({title, text, ms});
                     });
  }
  ~AppFixture() override {
    form.reset();
    main.reset();
    dialogs::SetMessageSink({});
    dialogs::SetQuestionSink({});
  }

  IniFile Ini() const { return IniFile(settings::SetupFilePath()); }
  std::string Read(std::string_view section, std::string_view key) const {
    return Ini().ReadString(section, key);
  }

  struct Balloon {
    QString title;
    QString text;
    int ms;
  };

  TempHome home;
  testsupport::KeyringBus keyring;
  std::unique_ptr<Tmain> main;
  std::unique_ptr<Tfrm_main> form;
  std::vector<std::pair<dialogs::MessageKind, QString>> messages;
  std::vector<QString> questions;  // the yes-or-no questions asked
  bool answer = true;              // and how they are answered
  std::vector<Balloon> balloons;
  int modalShows = 0;
  schedule::LocalDateTime now{std::chrono::year{2026} / 12 / 7, {8, 0, 0}};  // a Monday
};
