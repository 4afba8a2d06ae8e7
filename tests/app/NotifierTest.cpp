// Balloons through a real desktop notification service on a private bus: each one replaces
// the one shown before it.
#include "app/Notifier.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

class NotifierTest : public testing::Test {
 protected:
  void SetUp() override {
    // The bus's socket lies in a folder of the test's own, removed with the fixture.
    ASSERT_TRUE(busFolder_.isValid());
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1"),
                QStringLiteral("--address=unix:dir=") + busFolder_.path()});
    ASSERT_TRUE(bus_.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus_.canReadLine(); }, 5000));
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    QStringList args{QStringLiteral(APP_TEST_DIR "/notification_server.py"), address_};
    if (Actions())
      args << QStringLiteral("--actions");
    server_.start(QStringLiteral("/usr/bin/python3"), args);
    ASSERT_TRUE(server_.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server_.canReadLine(); }, 10000))
        << server_.readAllStandardError().toStdString();
    ASSERT_EQ(server_.readLine(), QByteArray("ready\n"));
  }
  virtual bool Actions() const { return false; }
  void TearDown() override {
    QDBusConnection::disconnectFromBus(QStringLiteral("kz-notifier-test"));
    for (QProcess* p : {&server_, &bus_}) {
      p->kill();
      p->waitForFinished(5000);
    }
  }
  QDBusConnection Bus() {
    return QDBusConnection::connectToBus(address_, QStringLiteral("kz-notifier-test"));
  }
  QByteArray NextCall() {
    if (!QTest::qWaitFor([&] { return server_.canReadLine(); }, 5000))
      return server_.readAllStandardError();
    return server_.readLine().trimmed();
  }

  QTemporaryDir busFolder_;
  QProcess bus_;
  QProcess server_;
  QString address_;
};

TEST_F(NotifierTest, EachBalloonReplacesThePreviousOne) {
  Notifier notifier(Bus());
  ASSERT_TRUE(notifier.Show(QStringLiteral("Kadenza"), QStringLiteral("první\nřádek"), 3000));
  EXPECT_EQ(NextCall(), QByteArray("notify 0 1 3000 Kadenza|první\\nřádek"));
  const unsigned first = notifier.LastId();
  ASSERT_TRUE(notifier.Show(QStringLiteral("Kadenza"), QStringLiteral("druhá"), 10000));
  EXPECT_EQ(NextCall(), "notify " + QByteArray::number(first) + " 1 10000 Kadenza|druhá");
  // Another sender's notifications are not touched: a new one gets its own id.
  Notifier other(Bus());
  ASSERT_TRUE(other.Show(QStringLiteral("Kadenza"), QStringLiteral("x"), 5000));
  EXPECT_EQ(NextCall(), QByteArray("notify 0 2 5000 Kadenza|x"));
}

TEST_F(NotifierTest, NoServiceLetsTheCallerFallBack) {
  server_.kill();
  server_.waitForFinished(5000);
  Notifier notifier(Bus());
  EXPECT_FALSE(notifier.Show(QStringLiteral("Kadenza"), QStringLiteral("x"), 3000));
  Notifier unconnected(QDBusConnection(QStringLiteral("kz-no-such-bus")));
  EXPECT_FALSE(unconnected.Show(QStringLiteral("Kadenza"), QStringLiteral("x"), 3000));
}

// A service that shows actions: "Zobrazit historii" where asked for, and only a click on
// that action of our own notification asks for the history.
class NotifierActionsTest : public NotifierTest {
 protected:
  bool Actions() const override { return true; }
};

TEST_F(NotifierActionsTest, HistoryActionWhereAskedFor) {
  Notifier notifier(Bus());
  QSignalSpy history(&notifier, &Notifier::HistoryRequested);
  ASSERT_TRUE(notifier.Show(QStringLiteral("Kadenza"), QStringLiteral("zmeškané"), 10000, true));
  EXPECT_EQ(NextCall(), QByteArray("notify 0 1 10000 Kadenza|zmeškané entry=cz.kadenza.Kadenza "
                                   "actions=historie,Zobrazit historii"));
  server_.write("invoke 7 historie\n");  // another program's notification
  server_.write("invoke 1 default\n");   // a click on the body
  server_.write("invoke 1 historie\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return history.count() == 1; }, 5000));
  QTest::qWait(200);
  EXPECT_EQ(history.count(), 1);

  // Replaced by one without the action, the old id no longer asks for anything.
  ASSERT_TRUE(notifier.Show(QStringLiteral("Kadenza"), QStringLiteral("x"), 3000));
  EXPECT_EQ(NextCall(), QByteArray("notify 1 1 3000 Kadenza|x entry=cz.kadenza.Kadenza actions="));
  server_.write("invoke 1 historie\n");
  QTest::qWait(300);
  EXPECT_EQ(history.count(), 1);
}

}  // namespace
