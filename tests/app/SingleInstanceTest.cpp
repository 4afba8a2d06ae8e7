// One running copy per user and data folder, tried with real processes of the application.
#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "TempHome.h"
#include "app/SettingsStore.h"

namespace {

class SingleInstanceTest : public testing::Test {
 protected:
  SingleInstanceTest()
      : runtime_(testsupport::SetEnvForScope("XDG_RUNTIME_DIR", home.Root().string())) {
    // With settings present a copy starts without a window, only the schedule.
    TempHome::Write(home.DataFolder() / "setup.dat",
                    "[Cas]\ncas=08:00:00\n[Do]\ndatm=31.12.2099\n[Datum]\nPo=Po\n");
  }
  ~SingleInstanceTest() override {
    for (auto& p : started_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
  }

  QProcess& Start() {
    auto& p = *started_.emplace_back(std::make_unique<QProcess>());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KADENZA_EXE), {});
    EXPECT_TRUE(p.waitForStarted(5000));
    return p;
  }
  // StartPeer connects to the running copy's socket with Python, sends `bytes` and waits for
  // the copy to close the connection.
  QProcess& StartPeer(const std::string& bytes) {
    auto& p = *started_.emplace_back(std::make_unique<QProcess>());
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import socket,sys\n"
                            "s=socket.socket(socket.AF_UNIX)\ns.connect(sys.argv[1])\n"
                            "s.sendall(sys.argv[2].encode())\n"
                            "while s.recv(4096): pass\n"),
             SingleInstance::SocketPath(), QString::fromStdString(bytes)});
    EXPECT_TRUE(p.waitForStarted(5000));
    return p;
  }
  static bool Listening() { return QFileInfo::exists(SingleInstance::SocketPath()); }

  TempHome home;

 private:
  testsupport::ScopedEnv runtime_;
  std::vector<std::unique_ptr<QProcess>> started_;
};

TEST_F(SingleInstanceTest, SecondStartHandsOverAndEnds) {
  QProcess& first = Start();
  ASSERT_TRUE(QTest::qWaitFor(Listening, 10000));
  QProcess& second = Start();
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(second.readAllStandardError(), QByteArray());  // the running copy answered
  QTest::qWait(300);
  EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(SingleInstanceTest, RunningCopyIsAskedForItsWindow) {
  SingleInstance running;
  ASSERT_TRUE(running.Claim());
  QSignalSpy activated(&running, &SingleInstance::Activated);
  SingleInstance again;
  EXPECT_FALSE(again.Claim());
  QProcess& later = Start();
  // The later start blocks until this copy answers, so keep this event loop running.
  ASSERT_TRUE(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(later.exitCode(), 0);
  EXPECT_EQ(activated.count(), 1);
}

TEST_F(SingleInstanceTest, CopyThatDiedLeavesNoLockBehind) {
  QProcess& first = Start();
  ASSERT_TRUE(QTest::qWaitFor(Listening, 10000));
  first.kill();  // no chance to clean up: lock file and socket stay
  ASSERT_TRUE(first.waitForFinished(5000));
  QProcess& next = Start();
  EXPECT_FALSE(next.waitForFinished(1500));  // it runs on as the running copy
  SingleInstance probe;
  EXPECT_FALSE(probe.Claim());
  EXPECT_TRUE(probe.HandOver());
}

// Whatever else reaches the socket (junk, an endless line, a peer that says nothing and
// stays) opens no window and does not stop the next later start from being answered.
TEST_F(SingleInstanceTest, StrayPeersAreTurnedAwayAndTheNextStartIsAnswered) {
  SingleInstance running;
  ASSERT_TRUE(running.Claim());
  QSignalSpy activated(&running, &SingleInstance::Activated);
  QProcess& silent = StartPeer("");
  QProcess& junk = StartPeer("GET / HTTP/1.0\r\n\r\n");
  QProcess& endless = StartPeer(std::string(4096, 'x'));
  for (QProcess* p : {&junk, &endless})
    ASSERT_TRUE(QTest::qWaitFor([p] { return p->state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(activated.count(), 0);
  EXPECT_EQ(silent.state(), QProcess::Running);  // still connected, still waiting
  QProcess& later = Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(later.exitCode(), 0);
  EXPECT_EQ(activated.count(), 1);
}

TEST_F(SingleInstanceTest, AnotherDataFolderIsAnotherCopy) {
  SingleInstance running;
  ASSERT_TRUE(running.Claim());
  const QString first = SingleInstance::SocketPath();
  auto other = testsupport::SetEnvForScope("XDG_DATA_HOME", (home.Root() / "other").string());
  EXPECT_NE(SingleInstance::SocketPath(), first);
  SingleInstance second;
  EXPECT_TRUE(second.Claim());
}

}  // namespace
