// The send history window: a small read-only table of the latest events, newest first.
#pragma once

#include <QDialog>
#include <QTableWidget>

#include <vector>

#include "app/SendHistory.h"

class THistoryWindow : public QDialog {
  Q_OBJECT
 public:
  // The number of events the window shows.
  static constexpr std::size_t kShown = 100;

  explicit THistoryWindow(QWidget* parent = nullptr);

  // Fill shows the events in the given order, one row each.
  void Fill(const std::vector<history::Event>& events);

  QTableWidget* table;
};
