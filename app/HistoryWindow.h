// The send history window: a small read-only table of the latest events, newest first.
#pragma once

#include <QDialog>
#include <QTableWidget>

#include <string_view>
#include <vector>

#include "app/SendHistory.h"

class THistoryWindow : public QDialog {
  Q_OBJECT
 public:
  // The number of events the window shows.
  static constexpr std::size_t kShown = 100;

  explicit THistoryWindow(QWidget* parent = nullptr);

  // KindName is the kind as people read it ("ruční odeslání" for `kadenza --send-now`).
  static QString KindName(std::string_view kind);

  // Fill shows the events in the given order, one row each.
  void Fill(const std::vector<history::Event>& events);

  QTableWidget* table;
};
