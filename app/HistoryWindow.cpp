#include "app/HistoryWindow.h"

#include <QHeaderView>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { kWhen, kKind, kResult, kRecipients, kSubject };

}  // namespace

QString THistoryWindow::KindName(std::string_view kind) {
  // The file keeps the name it always had; people read the Czech one.
  if (kind == history::KindText(history::Kind::kSendNow))
    return QStringLiteral("ruční odeslání");
  return QString::fromUtf8(kind.data(), static_cast<qsizetype>(kind.size()));
}

THistoryWindow::THistoryWindow(QWidget* parent) : QDialog(parent), table(new QTableWidget(this)) {
  setWindowTitle(QStringLiteral("Historie odeslání"));
  table->setColumnCount(5);
  table->setHorizontalHeaderLabels({QStringLiteral("Datum a čas"), QStringLiteral("Druh"),
                                    QStringLiteral("Výsledek"), QStringLiteral("Příjemci"),
                                    QStringLiteral("Předmět")});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setWordWrap(false);
  table->setTextElideMode(Qt::ElideRight);
  table->verticalHeader()->setVisible(false);
  // The short columns fit their contents; the result takes the room left and is cut with
  // "…" where it is longer (its tooltip holds all of it).
  QHeaderView* header = table->horizontalHeader();
  header->setStretchLastSection(false);
  for (int c : {kWhen, kKind, kRecipients})
    header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(kResult, QHeaderView::Stretch);
  header->setSectionResizeMode(kSubject, QHeaderView::Interactive);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table);
  resize(760, 360);
}

void THistoryWindow::Fill(const std::vector<history::Event>& events) {
  table->setRowCount(static_cast<int>(events.size()));
  for (std::size_t i = 0; i < events.size(); ++i) {
    const history::Event& e = events[i];
    const QStringList cells = {QString::fromStdString(e.when), KindName(e.kind),
                               QString::fromStdString(e.result), QString::number(e.recipients),
                               QString::fromStdString(e.subject)};
    for (int c = 0; c < cells.size(); ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (c == kResult || c == kSubject)
        item->setToolTip(cells[c]);
      table->setItem(static_cast<int>(i), c, item);
    }
  }
  // The subject is shown whole up to a third of the window; longer ones are cut.
  table->resizeColumnToContents(kSubject);
  table->setColumnWidth(kSubject, std::min(table->columnWidth(kSubject), width() / 3));
}
