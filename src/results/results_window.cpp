#include "results/results_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "common/encoding.h"
#include "common/settings.h"
#include "results/results_export.h"
#include "results/results_valuation.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {

namespace {

// Twips at a little more than the classic 15 per pixel, so that today's fonts with their
// cell margins fit the grid's column widths.
constexpr int kTwipsPerPixel = 12;
constexpr int kColumnTwips[kGridColumns] = {500, 500, 1900, 900, 950, 950};
// 予想PER, PBR, 予想利回り, 時価総額(億円) at the right end, shown when the database holds
// results; then 業種, shown when it holds the industries.
constexpr int kValuationTwips[kValuationColumns] = {900, 700, 900, 1300};
constexpr int kSectorColumn = kGridColumns + kValuationColumns;
constexpr int kSectorTwips = 1900;
constexpr int kAllColumns = kSectorColumn + 1;
constexpr int kGridRows = kRowsPerPage + 1;

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

QColor colour_of(RowColour c) {
  switch (c) {
    case RowColour::red:
      return QColor(255, 0, 0);
    case RowColour::green:
      return QColor(0, 255, 0);
    case RowColour::blue:
      return QColor(0, 0, 255);
    case RowColour::black:
      break;
  }
  return QColor(0, 0, 0);
}

}  // namespace

ResultsWindow::ResultsWindow(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("銘柄選択結果-  ルーメンピック -  NORDHAVEN  -"));

  hiduke1_lb_ = new QLabel(this);
  hiduke1_lb_->setObjectName("hiduke1_lb");
  kensuu_lb_ = new QLabel(this);
  kensuu_lb_->setObjectName("kensuu_lb");

  grid_ = new QTableWidget(kGridRows, kAllColumns, this);
  grid_->setObjectName("MSFlexGrid1");
  grid_->horizontalHeader()->hide();
  grid_->verticalHeader()->hide();
  grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
  grid_->setWordWrap(false);
  QFont grid_font = grid_->font();
  grid_font.setPixelSize(12);
  grid_->setFont(grid_font);
  const int row_px = 250 / kTwipsPerPixel + 1;
  grid_->verticalHeader()->setMinimumSectionSize(1);
  grid_->verticalHeader()->setDefaultSectionSize(row_px);
  for (int c = 0; c < kAllColumns; ++c) {
    const int twips = c < kGridColumns      ? kColumnTwips[c]
                      : c == kSectorColumn ? kSectorTwips
                                           : kValuationTwips[c - kGridColumns];
    grid_->setColumnWidth(c, twips / kTwipsPerPixel);
  }
  show_valuation_columns(false, false);
  const QColor fixed_face = palette().color(QPalette::Button);
  for (int r = 0; r < kGridRows; ++r) {
    for (int c = 0; c < kAllColumns; ++c) {
      auto* item = new QTableWidgetItem;
      const bool fixed = r == 0 || c == 0;
      // The caption row and the number column are fixed: not selectable, button face.
      item->setFlags(fixed ? Qt::ItemIsEnabled : (Qt::ItemIsEnabled | Qt::ItemIsSelectable));
      if (fixed) item->setBackground(fixed_face);
      Qt::Alignment align = Qt::AlignVCenter;
      if (r == 0) {
        align |= Qt::AlignHCenter;
      } else {
        align |= (c == 1 || c == 2) ? Qt::AlignLeft : Qt::AlignRight;
      }
      item->setTextAlignment(align);
      // The row colours read as rise/fall but follow the day's candle: say so where asked.
      if (r == 0 && c == 3) {
        item->setToolTip(
            QStringLiteral("行の色はその日のローソク足：赤は終値が始値より上、青は下、緑は同じ"));
      }
      grid_->setItem(r, c, item);
    }
  }
  grid_->viewport()->installEventFilter(this);
  grid_->installEventFilter(this);
  // A selection stays visible while another window (the chart) has the focus.
  QPalette grid_palette = grid_->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    grid_palette.setColor(QPalette::Inactive, role, grid_palette.color(QPalette::Active, role));
  }
  grid_->setPalette(grid_palette);

  page1_cmb_ = new QComboBox(this);
  page1_cmb_->setObjectName("page1_cmb");
  page1_cmb_->setMinimumWidth(60);
  back1_cmd_ = new QPushButton(QStringLiteral("BACK"), this);
  back1_cmd_->setObjectName("back1_cmd");
  next1_cmd_ = new QPushButton(QStringLiteral("NEXT"), this);
  next1_cmd_->setObjectName("next1_cmd");
  back1_cmd_->setEnabled(false);
  next1_cmd_->setEnabled(false);
  const QString step_text[2] = {QStringLiteral("▽"), QStringLiteral("△")};
  for (int k = 0; k < 2; ++k) {
    bk_nx_cmd_[k] = new QPushButton(step_text[k], this);
    bk_nx_cmd_[k]->setObjectName(QStringLiteral("bk_nx_cmd_%1").arg(k));
    bk_nx_cmd_[k]->setFixedWidth(32);
  }
  export_cmd_ = new QPushButton(QStringLiteral("出力"), this);
  export_cmd_->setObjectName("syuturyoku_cmd");
  export_cmd_->setToolTip(QStringLiteral("結果の一覧を今の並び順で Excel (.xlsx) か CSV に保存"));
  msg1_lb_ = new QLabel(this);
  msg1_lb_->setObjectName("msg1_lb");
  startflag_lb_ = new QLabel(this);
  startflag_lb_->setObjectName("startflag_lb");
  startflag_lb_->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(page1_cmb_);
  buttons->addWidget(back1_cmd_);
  buttons->addWidget(next1_cmd_);
  buttons->addStretch(1);
  buttons->addWidget(export_cmd_);
  buttons->addWidget(bk_nx_cmd_[0]);
  buttons->addWidget(bk_nx_cmd_[1]);
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QHBoxLayout;
  heading->addWidget(hiduke1_lb_);
  heading->addStretch(1);
  heading->addWidget(kensuu_lb_);
  layout->addLayout(heading);
  layout->addWidget(grid_);
  layout->addLayout(buttons);
  layout->addWidget(msg1_lb_);
  layout->addWidget(startflag_lb_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // The grid starts on its first movable cell; moving there is not a choice of the user.
  ready_ = false;
  grid_->setCurrentCell(1, 1);
  ready_ = true;

  connect(page1_cmb_, &QComboBox::activated, this, [this] { on_page_chosen(); });
  connect(next1_cmd_, &QPushButton::clicked, this, [this] { on_next_back(+1); });
  connect(back1_cmd_, &QPushButton::clicked, this, [this] { on_next_back(-1); });
  connect(bk_nx_cmd_[0], &QPushButton::clicked, this, [this] { on_step(true); });
  connect(bk_nx_cmd_[1], &QPushButton::clicked, this, [this] { on_step(false); });
  connect(grid_, &QTableWidget::currentCellChanged, this,
          [this](int row, int column, int, int) { on_cell_changed(row, column); });
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { on_sort(); });
  connect(export_cmd_, &QPushButton::clicked, this, [this] { choose_export_file(); });

  connect(&flag_timer_, &QTimer::timeout, this, [this] { check_start_flag(); });
  flag_timer_.start(30);
}

void ResultsWindow::check_start_flag() {
  if (ready_ && startflag_lb_->text() == QLatin1String("start")) load_results();
}

void ResultsWindow::load_results() {
  ready_ = false;
  const Platform& platform = WindowHub::instance().platform();
  const AppFolders folders = read_settei_sub(platform.documents_folder, platform.desktop_folder);
  // A missing file leaves an empty table: no rows, no pages, both buttons off.
  const bool read = read_result_file(folders.user_folder + "sel0_out.csv", table_);
  kensuu_lb_->setText(QStringLiteral("%1件").arg(table_.count()));
  // An empty grid alone does not say whether the run kept nothing or the file is gone.
  msg1_lb_->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
  if (!read) {
    msg1_lb_->setText(QStringLiteral("結果ファイル（sel0_out.csv）がありません。"));
  } else if (table_.count() == 0) {
    msg1_lb_->setText(QStringLiteral("条件に合う銘柄はありませんでした（0件）。"));
  } else {
    msg1_lb_->clear();
  }
  valuation_ = compute_valuation(table_, SeriesSource::from(folders));
  show_valuation_columns(valuation_.present, valuation_.sectors);
  page1_cmb_->clear();
  for (const std::string& entry : page_entries(table_.count())) page1_cmb_->addItem(q(entry));
  set_page_list(0);
  page_ = 0;
  fill_page(0);
  ready_ = true;
  startflag_lb_->setText(QStringLiteral("done"));
}

void ResultsWindow::show_valuation_columns(bool shown, bool sectors) {
  int width_twips = 65;
  for (int c = 0; c < kGridColumns; ++c) width_twips += kColumnTwips[c];
  for (int k = 0; k < kValuationColumns; ++k) {
    grid_->setColumnHidden(kGridColumns + k, !shown);
    if (shown) width_twips += kValuationTwips[k];
  }
  grid_->setColumnHidden(kSectorColumn, !sectors);
  if (sectors) width_twips += kSectorTwips;
  const int row_px = 250 / kTwipsPerPixel + 1;
  grid_->setFixedSize(width_twips / kTwipsPerPixel + 2, kGridRows * row_px + 4);
}

void ResultsWindow::set_chart_enabled(bool enabled) {
  if (QWidget* chart = WindowHub::instance().window(QStringLiteral("graph"), false)) {
    chart->setEnabled(enabled);
  }
}

void ResultsWindow::fill_page(int p) {
  set_chart_enabled(false);
  const GridPage page = lp::fill_page(table_, p);
  hiduke1_lb_->setText(QStringLiteral("最新取引日：") + q(table_.date()));
  for (int c = 0; c < kGridColumns; ++c) grid_->item(0, c)->setText(q(page.captions[c]));
  for (int r = 1; r < kGridRows; ++r) {
    const GridRow* row =
        static_cast<std::size_t>(r) <= page.rows.size() ? &page.rows[r - 1] : nullptr;
    for (int c = 0; c < kGridColumns; ++c) {
      QTableWidgetItem* item = grid_->item(r, c);
      item->setText(row ? q(row->cells[c]) : QString());
      item->setForeground(c == 0 || !row ? QColor(0, 0, 0) : colour_of(row->colour));
    }
    const auto values = row ? valuation_cells(valuation_, table_.field(row->result, 1))
                            : std::array<std::string, kValuationColumns>{};
    for (int k = 0; k < kValuationColumns; ++k) {
      QTableWidgetItem* item = grid_->item(r, kGridColumns + k);
      item->setText(q(values[static_cast<std::size_t>(k)]));
      item->setForeground(row ? colour_of(row->colour) : QColor(0, 0, 0));
    }
  }
  for (int k = 0; k < kValuationColumns; ++k) {
    grid_->item(0, kGridColumns + k)->setText(q(valuation_captions()[static_cast<std::size_t>(k)]));
  }
  grid_->item(0, kSectorColumn)->setText(QString::fromUtf8(kSectorCaption));
  for (int r = 1; r < kGridRows; ++r) {
    const GridRow* row =
        static_cast<std::size_t>(r) <= page.rows.size() ? &page.rows[r - 1] : nullptr;
    QTableWidgetItem* item = grid_->item(r, kSectorColumn);
    item->setText(row ? q(valuation_.sector_of(trim_blanks(table_.field(row->result, 1))))
                      : QString());
    item->setForeground(row ? colour_of(row->colour) : QColor(0, 0, 0));
  }
  next1_cmd_->setEnabled(page.next_enabled);
  back1_cmd_->setEnabled(page.back_enabled);
  if (QWidget* main = WindowHub::instance().window(QStringLiteral("main"), false)) {
    if (auto* label = control<QLabel>(main, "Label1")) label->clear();
  }
  set_chart_enabled(true);
}

int ResultsWindow::page_list_value() const {
  return std::max(0, page1_cmb_->currentText().trimmed().toInt());
}

void ResultsWindow::set_page_list(int p) {
  page1_cmb_->setCurrentIndex(p < page1_cmb_->count() ? p : -1);
}

void ResultsWindow::on_page_chosen() {
  if (!ready_) return;
  ready_ = false;
  page_ = page_list_value();
  fill_page(page_);
  grid_->setCurrentCell(std::max(grid_->currentRow(), 1), 1);
  ready_ = true;
}

void ResultsWindow::on_next_back(int delta) {
  if (!ready_) return;
  ready_ = false;
  next1_cmd_->setEnabled(false);
  back1_cmd_->setEnabled(false);
  yield_now(WindowHub::instance().platform().yield);
  page_ = std::clamp(page_ + delta, 0, std::max(last_page(table_.count()), 0));
  set_page_list(page_);
  fill_page(page_);
  grid_->setCurrentCell(std::max(grid_->currentRow(), 1), 1);
  ready_ = true;
}

void ResultsWindow::on_cell_changed(int row, int column) {
  if (!ready_ || row <= 0 || column <= 0) return;
  const QTableWidgetItem* item = grid_->item(row, column);
  if (!item || item->text().trimmed().isEmpty()) return;
  const int i = kRowsPerPage * page_list_value() + row;
  if (i < 1 || i > table_.count()) return;
  ready_ = false;
  send_to_chart(table_.field(i, result_field::kCode));
  ready_ = true;
}

void ResultsWindow::send_to_chart(const std::string& code) {
  WindowHub& hub = WindowHub::instance();
  QWidget* chart = hub.window(QStringLiteral("graph"), false);
  if (!chart) {
    chart = hub.show_window(QStringLiteral("graph"));
  } else if (!chart->isVisible()) {
    chart->show();
  }
  if (!chart) return;  // no chart built in
  if (auto* check = control<QCheckBox>(chart, "refer1_chk")) check->setChecked(false);
  if (auto* ref = control<QLineEdit>(chart, "refer1_txt")) ref->setText(QStringLiteral("1000"));
  if (auto* box = control<QLineEdit>(chart, "meigara_code_txt")) {
    box->setText(q(code).trimmed());
  }
}

void ResultsWindow::wait_for_chart() {
  wait_for_chart_idle(WindowHub::instance().window(QStringLiteral("graph"), false));
}

void ResultsWindow::on_step(bool forward) {
  if (!ready_) return;
  const int n = table_.count();
  if (n == 0) return;
  ready_ = false;
  const int current = kRowsPerPage * page_list_value() + std::max(grid_->currentRow(), 0);
  const int i = step_result(n, current, forward);
  const int target_page = page_of(i);
  int column = grid_->currentColumn() >= 1 ? grid_->currentColumn() : 1;
  if (page1_cmb_->currentText().trimmed() != QString::number(target_page)) {
    set_page_list(target_page);
    page_ = target_page;
    fill_page(target_page);
  }
  grid_->setCurrentCell(i - kRowsPerPage * target_page, column);
  send_to_chart(table_.field(i, result_field::kCode));
  wait_for_chart();
  ready_ = true;
}

void ResultsWindow::on_sort() {
  if (!ready_) return;
  ready_ = false;
  set_chart_enabled(false);
  grid_->setEnabled(false);
  const QString kept = msg1_lb_->text();
  msg1_lb_->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
  msg1_lb_->setText(QStringLiteral("ソーティング処理中"));
  process_events_now();
  // Names sort in the desktop's Japanese collation.
  static const QCollator collator{QLocale(QLocale::Japanese, QLocale::Japan)};
  sorter_.sort(
      table_, std::max(grid_->currentColumn(), 0),
      [](const std::string& a, const std::string& b) { return collator.compare(q(a), q(b)); },
      &valuation_);
  page_ = 0;
  set_page_list(0);
  fill_page(0);
  grid_->setEnabled(true);
  msg1_lb_->setStyleSheet(QStringLiteral("color: rgb(0, 0, 0);"));
  msg1_lb_->setText(kept);
  process_events_now();
  set_chart_enabled(true);
  ready_ = true;
}

void ResultsWindow::copy_selection() {
  const QList<QTableWidgetSelectionRange> ranges = grid_->selectedRanges();
  if (ranges.isEmpty()) return;
  const QTableWidgetSelectionRange& r = ranges.first();
  std::vector<std::vector<std::string>> cells;
  for (int row = r.topRow(); row <= r.bottomRow(); ++row) {
    std::vector<std::string>& line = cells.emplace_back();
    for (int c = r.leftColumn(); c <= r.rightColumn(); ++c) {
      line.push_back(grid_->item(row, c)->text().toStdString());
    }
  }
  QClipboard* clipboard = QApplication::clipboard();
  clipboard->clear();
  clipboard->setText(q(copy_text(cells)));
}

namespace {
const char* const kExportFilters[] = {"Excel (*.xlsx)", "CSV UTF-8 (*.csv)",
                                      "CSV Shift_JIS (*.csv)"};
}  // namespace

void ResultsWindow::choose_export_file() {
  if (!ready_) return;
  // A dialog of Qt's own (not the desktop's), opened without blocking, so the window stays
  // responsive and the dialog behaves the same on every desktop.
  auto* dialog = new QFileDialog(this, QStringLiteral("結果の出力"));
  dialog->setObjectName(QStringLiteral("syuturyoku_dlg"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  QStringList filters;
  for (const char* f : kExportFilters) filters << QString::fromUtf8(f);
  dialog->setNameFilters(filters);
  const AppFolders folders = read_settei_sub(WindowHub::instance().platform().documents_folder,
                                             WindowHub::instance().platform().desktop_folder);
  dialog->setDirectory(q(folders.user_folder));
  dialog->selectFile(QStringLiteral("銘柄選択_%1.xlsx").arg(q(table_.date())));
  connect(dialog, &QFileDialog::fileSelected, this, [this, dialog](const QString& file) {
    const bool cp932 = dialog->selectedNameFilter() == QString::fromUtf8(kExportFilters[2]);
    QString path = file;
    if (!path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive) &&
        !path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) {
      path += dialog->selectedNameFilter() == QString::fromUtf8(kExportFilters[0])
                  ? QStringLiteral(".xlsx")
                  : QStringLiteral(".csv");
    }
    export_to(path, cp932);
  });
  dialog->open();
}

bool ResultsWindow::export_to(const QString& path, bool cp932) {
  ExportOptions options;
  export_format_for(path.toStdString(), cp932, options.format);
  options.valuation = &valuation_;
  // The screen's name, when the screening window has one chosen, titles the sheet.
  if (QWidget* sel = WindowHub::instance().window(QStringLiteral("meigarasel2"), false)) {
    if (auto* screens = sel->findChild<QComboBox*>(QStringLiteral("hozon_cmb")))
      options.screen_name = screens->currentText().trimmed().toStdString();
  }
  std::string error;
  if (!export_results(table_, path.toStdString(), options, error)) {
    msg1_lb_->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
    msg1_lb_->setText(q(error));
    return false;
  }
  msg1_lb_->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
  msg1_lb_->setText(QStringLiteral("%1件を出力しました：%2").arg(table_.count()).arg(path));
  return true;
}

void ResultsWindow::select_rows(int from, int to) {
  const int top = std::clamp(std::min(from, to), 1, kGridRows - 1);
  const int bottom = std::clamp(std::max(from, to), 1, kGridRows - 1);
  grid_->clearSelection();
  const int last = valuation_.sectors   ? kAllColumns - 1
                   : valuation_.present ? kSectorColumn - 1
                                        : kGridColumns - 1;
  grid_->setRangeSelected(QTableWidgetSelectionRange(top, 1, bottom, last), true);
}

bool ResultsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grid_ && event->type() == QEvent::KeyPress && ready_ &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    // The same text as the mouse release copies.
    copy_selection();
    return true;
  }
  if (watched == grid_->viewport() && ready_) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        // A press on the number column takes the whole row; dragging there takes more rows.
        if (mouse->button() == Qt::LeftButton &&
            grid_->columnAt(mouse->position().toPoint().x()) == 0) {
          row_anchor_ = grid_->rowAt(mouse->position().toPoint().y());
          if (row_anchor_ >= 1) {
            select_rows(row_anchor_, row_anchor_);
            return true;
          }
          row_anchor_ = -1;
        }
        break;
      case QEvent::MouseMove:
        if (row_anchor_ >= 1 && (mouse->buttons() & Qt::LeftButton)) {
          const int row = grid_->rowAt(mouse->position().toPoint().y());
          if (row >= 1) select_rows(row_anchor_, row);
          return true;
        }
        break;
      case QEvent::MouseButtonRelease:
        copy_selection();
        if (row_anchor_ >= 1) {
          row_anchor_ = -1;
          return true;
        }
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("meigarasel_out_frm", [] { return new lp::gui::ResultsWindow; });
