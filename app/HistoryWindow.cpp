#include "app/HistoryWindow.h"

#include <QHeaderView>
#include <QStringList>
#include <QVBoxLayout>

THistoryWindow::THistoryWindow(QWidget* parent) : QDialog(parent), table(new QTableWidget(this)) {
  setWindowTitle(QStringLiteral("Historie odeslání"));
  table->setColumnCount(5);
  table->setHorizontalHeaderLabels({QStringLiteral("Datum a čas"), QStringLiteral("Druh"),
                                    QStringLiteral("Výsledek"), QStringLiteral("Příjemci"),
                                    QStringLiteral("Předmět")});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table);
  resize(720, 360);
}

void THistoryWindow::Fill(const std::vector<history::Event>& events) {
  table->setRowCount(static_cast<int>(events.size()));
  for (std::size_t i = 0; i < events.size(); ++i) {
    const history::Event& e = events[i];
    const QStringList cells = {QString::fromStdString(e.when), QString::fromStdString(e.kind),
                               QString::fromStdString(e.result), QString::number(e.recipients),
                               QString::fromStdString(e.subject)};
    for (int c = 0; c < cells.size(); ++c)
      table->setItem(static_cast<int>(i), c, new QTableWidgetItem(cells[c]));
  }
  table->resizeColumnsToContents();
}
