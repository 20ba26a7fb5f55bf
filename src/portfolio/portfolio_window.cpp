#include "portfolio/portfolio_window.h"

#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "common/numbers.h"
#include "common/settings.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

QColor color_of(portfolio::Tone tone) {
  const portfolio::Rgb c = portfolio::tone_rgb(tone);
  return QColor(c.r, c.g, c.b);
}

void set_label_color(QLabel* label, const QColor& color) {
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, color);
  label->setPalette(pal);
}

QPushButton* make_button(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}

QLineEdit* make_edit(QWidget* parent, const char* name, int width) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setFixedWidth(width);
  return e;
}

// Pixel widths of the thirteen grid columns.
constexpr int kColumnWidths[portfolio::kColumns] = {36, 52,  136, 76, 80, 80, 80,
                                                    72, 100, 100, 96, 68, 68};
constexpr int kRowHeight = 20;

const char* kBusyText = "ポートフォリオ表示 処理中";

QString digits_only(const QString& text) {
  QString out;
  for (QChar c : text) {
    if (c.isDigit()) out.append(c);
  }
  return out;
}

bool ask_yes_no(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Question, parent->windowTitle(), question, QMessageBox::NoButton,
                  parent);
  QPushButton* yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

}  // namespace

PortfolioWindow::PortfolioWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("portforio"));
  confirm = [this](const QString& question) { return ask_yes_no(this, question); };
  setWindowTitle(QStringLiteral("ポートフォリオ　- ルーメンピックソフトウェア　- NORDHAVEN -"));
  build_ui();
  show_status(QString::fromUtf8(kBusyText), false);
  // Built after the first paint so the user sees the window while the prices load.
  QTimer::singleShot(0, this, [this] {
    if (!book_ && !ready_) open_portfolio();
  });
}

PortfolioWindow::~PortfolioWindow() = default;

void PortfolioWindow::build_ui() {
  auto* top = new QHBoxLayout;
  fileno_cmb_ = new QComboBox(this);
  fileno_cmb_->setObjectName(QStringLiteral("fileno1_cmb"));
  for (int i = 0; i < portfolio::kFileCount; ++i)
    fileno_cmb_->addItem(QStringLiteral(" ptf%1").arg(i));
  fileno_cmb_->setFixedWidth(80);
  page_cmb_ = new QComboBox(this);
  page_cmb_->setObjectName(QStringLiteral("page1_cmb"));
  page_cmb_->setFixedWidth(64);
  back_ = make_button(this, "back1_cmd", QStringLiteral("BACK"));
  next_ = make_button(this, "next1_cmd", QStringLiteral("NEXT"));
  step_[0] = make_button(this, "bk_nx_cmd_0", QStringLiteral("△"));
  step_[1] = make_button(this, "bk_nx_cmd_1", QStringLiteral("▽"));
  for (QPushButton* b : step_) b->setFixedWidth(36);
  close_ = make_button(this, "close_cmd", QStringLiteral("CLOSE"));
  auto* file_caption = new QLabel(QStringLiteral("ファイル"), this);
  auto* page_caption = new QLabel(QStringLiteral("ページ"), this);
  top->addWidget(file_caption);
  top->addWidget(fileno_cmb_);
  top->addSpacing(16);
  top->addWidget(page_caption);
  top->addWidget(page_cmb_);
  top->addWidget(back_);
  top->addWidget(next_);
  top->addSpacing(16);
  top->addWidget(step_[0]);
  top->addWidget(step_[1]);
  top->addStretch(1);
  top->addWidget(close_);

  grid_ = new QTableWidget(portfolio::kRowsPerPage, portfolio::kColumns, this);
  grid_->setObjectName(QStringLiteral("MSFlexGrid1"));
  QStringList headers;
  for (std::string_view h : portfolio::column_headers()) {
    headers << QString::fromUtf8(h.data(), static_cast<int>(h.size()));
  }
  grid_->setHorizontalHeaderLabels(headers);
  grid_->verticalHeader()->setVisible(false);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid_->horizontalHeader()->setSectionsClickable(true);
  grid_->horizontalHeader()->setHighlightSections(false);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  int width = 2 * grid_->frameWidth();
  for (int c = 0; c < portfolio::kColumns; ++c) {
    grid_->setColumnWidth(c, kColumnWidths[c]);
    width += kColumnWidths[c];
  }
  grid_->horizontalHeader()->setFixedHeight(kRowHeight + 4);
  grid_->setFixedSize(
      width, kRowHeight + 4 + portfolio::kRowsPerPage * kRowHeight + 2 * grid_->frameWidth());
  for (int r = 0; r < portfolio::kRowsPerPage; ++r) {
    for (int c = 0; c < portfolio::kColumns; ++c) grid_->setItem(r, c, new QTableWidgetItem);
  }

  // Totals.
  auto* totals = new QHBoxLayout;
  const char* total_names[4] = {"kounyuu_total_lb1", "hyouka_total_lb1", "profit_lb1",
                                "profit_ratio_lb1"};
  const QString total_captions[4] = {QStringLiteral("購入総額"), QStringLiteral("評価総額"),
                                     QStringLiteral("損益"), QStringLiteral("損益率")};
  for (int i = 0; i < 4; ++i) {
    auto* caption = new QLabel(total_captions[i], this);
    totals_[static_cast<std::size_t>(i)] = new QLabel(this);
    QLabel* l = totals_[static_cast<std::size_t>(i)];
    l->setObjectName(QString::fromLatin1(total_names[i]));
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(i == 3 ? 70 : 120);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    totals->addWidget(caption);
    totals->addWidget(l);
    if (i == 3) totals->addWidget(new QLabel(QStringLiteral("%"), this));
    totals->addSpacing(12);
  }
  totals->addStretch(1);

  // Entry fields and commands.
  auto* entry = new QHBoxLayout;
  code_ = make_edit(this, "code_txt1", 60);
  date_ = make_edit(this, "yyyymmdd_txt1", 90);
  shares_ = make_edit(this, "kabusuu_txt1", 100);
  price_ = make_edit(this, "kaine_txt1", 100);
  const std::pair<QString, QLineEdit*> fields[4] = {{QStringLiteral("コード"), code_},
                                                    {QStringLiteral("取得日"), date_},
                                                    {QStringLiteral("株数"), shares_},
                                                    {QStringLiteral("取得株価"), price_}};
  for (const auto& [caption, edit] : fields) {
    entry->addWidget(new QLabel(caption, this));
    entry->addWidget(edit);
    entry->addSpacing(8);
  }
  regist_ = make_button(this, "regist_cmd1", QStringLiteral("追加"));
  change_ = make_button(this, "change_cmd1", QStringLiteral("修正"));
  delete_ = make_button(this, "delete_cmd1", QStringLiteral("削除"));
  input_ = make_button(this, "input1_cmd", QStringLiteral("取込"));
  entry->addStretch(1);
  for (QPushButton* b : {regist_, change_, delete_, input_}) entry->addWidget(b);

  alert_ = new QLabel(this);
  alert_->setObjectName(QStringLiteral("alart_lb1"));
  alert_->setMinimumHeight(22);

  // The holdings list is the first page; the ledger's pages follow it.
  auto* holdings_page = new QWidget(this);
  auto* holdings = new QVBoxLayout(holdings_page);
  holdings->addLayout(top);
  holdings->addWidget(grid_);
  holdings->addLayout(totals);
  holdings->addLayout(entry);
  holdings->addWidget(alert_);
  holdings->addStretch(1);  // the ledger's pages are taller: the room goes below
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("portfolio_tabs"));
  tabs_->addTab(holdings_page, QStringLiteral("保有"));
  tabs_->addTab(build_trades_page(), QStringLiteral("取引"));
  tabs_->addTab(build_pnl_page(), QStringLiteral("損益"));
  tabs_->addTab(build_perf_page(), QStringLiteral("成績"));
  auto* root = new QVBoxLayout(this);
  root->addWidget(tabs_);
  root->setSizeConstraint(QLayout::SetFixedSize);

  // Enter walks the entry fields round.
  connect(code_, &QLineEdit::returnPressed, date_, [this] { date_->setFocus(); });
  connect(date_, &QLineEdit::returnPressed, shares_, [this] { shares_->setFocus(); });
  connect(shares_, &QLineEdit::returnPressed, price_, [this] { price_->setFocus(); });
  connect(price_, &QLineEdit::returnPressed, code_, [this] { code_->setFocus(); });

  connect(fileno_cmb_, &QComboBox::currentIndexChanged, this, &PortfolioWindow::on_file_changed);
  connect(page_cmb_, &QComboBox::currentIndexChanged, this, &PortfolioWindow::on_page_chosen);
  connect(regist_, &QPushButton::clicked, this, &PortfolioWindow::on_add);
  connect(change_, &QPushButton::clicked, this, &PortfolioWindow::on_correct);
  connect(delete_, &QPushButton::clicked, this, &PortfolioWindow::on_delete);
  connect(input_, &QPushButton::clicked, this, &PortfolioWindow::on_take_over);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  connect(next_, &QPushButton::clicked, this, [this] {
    if (ready_ && book_ && page_ < book_->last_page()) show_page(page_ + 1);
  });
  connect(back_, &QPushButton::clicked, this, [this] {
    if (ready_ && book_ && page_ > 0) show_page(page_ - 1);
  });
  connect(step_[0], &QPushButton::clicked, this, [this] { on_step(-1); });
  connect(step_[1], &QPushButton::clicked, this, [this] { on_step(+1); });
  connect(grid_, &QTableWidget::cellClicked, this, [this](int row, int) {
    if (ready_ && !filling_) select_row(row);
  });
  connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
    if (ready_ && !filling_ && row >= 0) select_row(row);
  });
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int, int col) { on_sort(col); });
  connect(grid_->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
          &PortfolioWindow::on_sort);

  set_commands_enabled(false);
  close_->setEnabled(true);
  next_->setEnabled(false);
  back_->setEnabled(false);
}

void PortfolioWindow::open_portfolio() {
  ready_ = false;
  show_status(QString::fromUtf8(kBusyText), false);
  const Platform& platform = WindowHub::instance().platform();
  yield_now(platform.yield);

  std::error_code ec;
  const std::string settei = product_folder(platform.documents_folder) + "settei.txt";
  if (!std::filesystem::is_regular_file(settei, ec)) {
    settings_ok_ = false;
    show_status(QString::fromUtf8(portfolio::kMsgNoSettings), true);
    set_commands_enabled(false);
    close_->setEnabled(true);
    ready_ = true;
    return;
  }
  const AppFolders folders = read_settei_sub(platform.documents_folder, platform.desktop_folder);
  std::filesystem::create_directories(folders.user_folder, ec);
  if (!std::filesystem::is_directory(folders.user_folder, ec)) {
    settings_ok_ = false;
    show_status(QStringLiteral("エラー：ユーザフォルダ（%1）を作成できません。")
                    .arg(qs(folders.user_folder)),
                true);
    set_commands_enabled(false);
    close_->setEnabled(true);
    ready_ = true;
    return;
  }
  settings_ok_ = true;
  book_ = std::make_unique<portfolio::Book>(SeriesSource::from(folders, platform.yield),
                                            folders.user_folder,
                                            [platform] { return today_yyyymmdd(platform); });
  // Names sort as the desktop's Japanese collation orders them.
  auto collator = std::make_shared<QCollator>(QLocale(QLocale::Japanese, QLocale::Japan));
  book_->set_name_compare([collator](const std::string& a, const std::string& b) {
    return collator->compare(QString::fromStdString(a), QString::fromStdString(b));
  });
  ledger_ = std::make_unique<ledger::LedgerStore>(
      SeriesSource::from(folders, platform.yield), folders.user_folder,
      [platform] { return static_cast<int>(parse_integer(today_yyyymmdd(platform))); });
  filling_ = true;
  fileno_cmb_->setCurrentIndex(0);
  filling_ = false;
  load_file(0);
  ready_ = true;
}

void PortfolioWindow::load_file(int file_no) {
  const portfolio::Outcome o = book_->open(file_no);
  if (o.ok) {
    show_status(QString(), false);
  } else {
    show_outcome(o);
  }
  selected_ = -1;
  refill_pages();
  show_page(0);
  set_commands_enabled(true);
  regist_->setEnabled(book_->writable());
  change_->setEnabled(false);
  delete_->setEnabled(false);
  filling_ = true;
  grid_->clearSelection();
  grid_->setCurrentCell(0, 1, QItemSelectionModel::NoUpdate);
  filling_ = false;
  refresh_ledger();
}

void PortfolioWindow::refill_pages() {
  filling_ = true;
  page_cmb_->clear();
  page_cmb_->addItem(QString());
  const int last = book_ ? book_->last_page() : 0;
  for (int p = 0; p <= last; ++p) page_cmb_->addItem(QStringLiteral(" %1").arg(p));
  filling_ = false;
}

void PortfolioWindow::show_page(int page) {
  if (!book_) return;
  page = std::clamp(page, 0, book_->last_page());
  page_ = page;
  const portfolio::PageView view = portfolio::fill_page(book_->report(), page);
  filling_ = true;
  grid_->clearSelection();
  for (int r = 0; r < portfolio::kRowsPerPage; ++r) {
    for (int c = 0; c < portfolio::kColumns; ++c) {
      QTableWidgetItem* item = grid_->item(r, c);
      if (r < static_cast<int>(view.rows.size())) {
        const portfolio::Cell& cell =
            view.rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
        item->setText(qs(cell.text));
        item->setForeground(color_of(cell.tone));
      } else {
        item->setText(QString());
      }
      Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter;
      if (c == 1 || c == 3) align = Qt::AlignCenter;
      if (c == 2) align = Qt::AlignLeft | Qt::AlignVCenter;
      item->setTextAlignment(align);
      if (c == 0) item->setBackground(palette().color(QPalette::Button));
    }
  }
  page_cmb_->setCurrentIndex(page + 1);
  filling_ = false;

  const portfolio::TotalsView totals = portfolio::format_totals(book_->report().totals);
  for (std::size_t i = 0; i < 4; ++i) {
    totals_[i]->setText(qs(totals.cells[i].text));
    set_label_color(totals_[i], color_of(totals.cells[i].tone));
  }
  next_->setEnabled(view.has_next);
  back_->setEnabled(view.has_back);
  // The selection belongs to the page it was made on.
  if (selected_ >= 0 && selected_ / portfolio::kRowsPerPage != page_) {
    selected_ = -1;
    change_->setEnabled(false);
    delete_->setEnabled(false);
  }
}

void PortfolioWindow::select_row(int row) {
  if (!book_) return;
  const int index = page_ * portfolio::kRowsPerPage + row;
  if (row < 0 || row >= portfolio::kRowsPerPage || index >= book_->count()) return;
  selected_ = index;
  const portfolio::Holding& h = book_->holdings()[static_cast<std::size_t>(index)];
  code_->setText(qs(h.code));
  date_->setText(qs(h.date));
  shares_->setText(qs(portfolio::entry_text(h.shares)));
  price_->setText(qs(portfolio::entry_text(h.price)));
  filling_ = true;
  grid_->selectRow(row);
  filling_ = false;
  const bool writable = book_->writable() && ready_;
  change_->setEnabled(writable);
  delete_->setEnabled(writable);
}

void PortfolioWindow::set_commands_enabled(bool on) {
  for (QPushButton* b : {regist_, change_, delete_, input_}) b->setEnabled(on);
  grid_->setEnabled(on);
  for (QPushButton* b : step_) b->setEnabled(on);
}

bool PortfolioWindow::begin(const char* status) {
  if (!ready_ || !book_) return false;
  ready_ = false;
  clear_main_message();
  set_commands_enabled(false);
  show_status(QString::fromUtf8(status), false);
  yield_now(WindowHub::instance().platform().yield);
  return true;
}

void PortfolioWindow::end() {
  set_commands_enabled(true);
  regist_->setEnabled(book_->writable());
  const bool selected = selected_ >= 0 && selected_ < book_->count() && book_->writable();
  change_->setEnabled(selected);
  delete_->setEnabled(selected);
  ready_ = true;
}

void PortfolioWindow::show_status(const QString& text, bool error) {
  alert_->setText(text);
  set_label_color(alert_, error ? QColor(255, 0, 0) : QColor(0, 0, 255));
}

void PortfolioWindow::show_outcome(const portfolio::Outcome& outcome) {
  show_status(qs(outcome.message), outcome.error);
}

void PortfolioWindow::show_refusal(const portfolio::Outcome& outcome,
                                   const std::vector<portfolio::Holding>& before) {
  // A refusal after another writer changed the file leaves the book holding the file as it is
  // now: the grid shows that, and the old selection no longer points at the same holding.
  if (book_->holdings() != before) {
    selected_ = -1;
    refill_pages();
    show_page(std::min(page_, book_->last_page()));
  }
  show_outcome(outcome);
}

void PortfolioWindow::clear_main_message() {
  if (auto* label = control<QLabel>(WindowHub::instance().window("main", false), "Label1")) {
    label->clear();
  }
}

portfolio::Entries PortfolioWindow::entries() const {
  return {code_->text().trimmed().toStdString(), date_->text().trimmed().toStdString(),
          shares_->text().trimmed().toStdString(), price_->text().trimmed().toStdString()};
}

void PortfolioWindow::on_file_changed(int item) {
  if (filling_ || !book_) return;
  if (!ready_) {
    // An operation is running: the file it works on stays selected.
    filling_ = true;
    fileno_cmb_->setCurrentIndex(book_->file_no());
    filling_ = false;
    return;
  }
  ready_ = false;
  clear_main_message();
  show_status(QString::fromUtf8(kBusyText), false);
  yield_now(WindowHub::instance().platform().yield);
  load_file(std::clamp(item, 0, portfolio::kFileCount - 1));
  ready_ = true;
}

void PortfolioWindow::on_page_chosen(int item) {
  if (filling_ || !ready_ || !book_ || item < 1) return;
  show_page(item - 1);
}

void PortfolioWindow::on_add() {
  if (!begin(portfolio::kMsgAdding)) return;
  const std::vector<portfolio::Holding> before = book_->holdings();
  const portfolio::Outcome o = book_->add(entries());
  if (!o.ok) {
    show_refusal(o, before);
    end();
    return;
  }
  const int added = book_->last_added();
  const portfolio::Holding& h = book_->holdings()[static_cast<std::size_t>(added)];
  shares_->setText(qs(portfolio::entry_text(h.shares)));
  price_->setText(qs(portfolio::entry_text(h.price)));
  refill_pages();
  selected_ = -1;
  show_page(added / portfolio::kRowsPerPage);
  ready_ = true;  // select_row reads it for the buttons
  select_row(added % portfolio::kRowsPerPage);
  show_status(QString(), false);
  end();
}

void PortfolioWindow::on_correct() {
  if (selected_ < 0 || !begin(portfolio::kMsgCorrecting)) return;
  const std::vector<portfolio::Holding> before = book_->holdings();
  const portfolio::Outcome o = book_->correct(selected_, entries());
  if (!o.ok) {
    show_refusal(o, before);
    end();
    return;
  }
  refill_pages();
  show_page(std::min(page_, book_->last_page()));
  show_status(QString(), false);
  ready_ = true;
  if (selected_ < book_->count()) select_row(selected_ % portfolio::kRowsPerPage);
  end();
}

void PortfolioWindow::on_delete() {
  if (selected_ < 0 || !ready_ || !book_ || selected_ >= book_->count()) return;
  const portfolio::Holding& h = book_->holdings()[static_cast<std::size_t>(selected_)];
  const QString question =
      QStringLiteral("No.%1（%2 %3）を削除しますか？")
          .arg(selected_ + 1)
          .arg(qs(h.code), qs(portfolio::entry_text(h.shares)) + QStringLiteral("株"));
  if (confirm && !confirm(question)) return;
  if (!begin(portfolio::kMsgDeleting)) return;
  const std::vector<portfolio::Holding> before = book_->holdings();
  const portfolio::Outcome o = book_->remove(selected_);
  if (!o.ok) {
    show_refusal(o, before);
    end();
    return;
  }
  selected_ = -1;
  refill_pages();
  show_page(std::min(page_, book_->last_page()));
  show_status(QString(), false);
  end();
}

void PortfolioWindow::on_sort(int column) {
  if (column < 0 || column >= portfolio::kColumns || !begin(portfolio::kMsgSorting)) return;
  const portfolio::Outcome o = book_->sort_by(column);
  selected_ = -1;  // the rows moved under the selection
  show_page(page_);
  if (o.ok) {
    show_status(QString(), false);
  } else {
    show_outcome(o);
  }
  end();
}

void PortfolioWindow::on_step(int direction) {
  if (!ready_ || !book_) return;
  const int index = book_->step(selected_, direction);
  if (index < 0) return;
  clear_main_message();
  show_page(index / portfolio::kRowsPerPage);
  select_row(index % portfolio::kRowsPerPage);
  ready_ = false;
  set_commands_enabled(false);
  show_in_chart(index);
  end();
}

void PortfolioWindow::show_in_chart(int index) {
  WindowHub& hub = WindowHub::instance();
  QPointer<QWidget> chart = hub.window(QStringLiteral("graph"));
  if (!chart) return;
  if (!chart->isVisible()) {
    chart->show();
    raise();
    activateWindow();
  }
  if (!wait_for_chart_idle(chart)) return;
  const portfolio::Holding& h = book_->holdings()[static_cast<std::size_t>(index)];
  if (auto* refer = control<QLineEdit>(chart, "refer1_txt")) {
    refer->setText(qs(format_decimal(parse_number(h.price))));
  }
  if (auto* check = control<QCheckBox>(chart, "refer1_chk")) check->setChecked(true);
  if (auto* code = control<QLineEdit>(chart, "meigara_code_txt")) code->setText(qs(h.code));
}

bool PortfolioWindow::chart_day(QString& code, QString& date, QString& price) const {
  QWidget* chart = WindowHub::instance().window(QStringLiteral("graph"), false);
  if (!chart) return false;
  if (auto* c = control<QLineEdit>(chart, "meigara_code_txt")) code = c->text().trimmed();
  // The chart's day grid: row 0 holds the titles, row 1 the day (date, open, high, low, close).
  auto* grid = control<QTableWidget>(chart, "MSFlexGrid1");
  const QTableWidgetItem* day = grid ? grid->item(1, 0) : nullptr;
  if (!day || digits_only(day->text()).size() != 8) return false;
  // A selected open, high or low is the price taken; otherwise the close.
  const int selected = grid->currentRow() == 1 ? grid->currentColumn() : -1;
  const QTableWidgetItem* cell = grid->item(1, selected >= 1 && selected <= 4 ? selected : 4);
  price = cell ? cell->text().trimmed().remove(QLatin1Char(',')) : QString();
  date = digits_only(day->text());
  // A day without trading shows "-": no price rather than the one typed before.
  if (parse_number(price.toStdString()) <= 0) price.clear();
  return true;
}

void PortfolioWindow::on_take_over() {
  if (!ready_) return;
  clear_main_message();
  QWidget* chart = WindowHub::instance().window(QStringLiteral("graph"), false);
  if (!chart) return;
  QString code, date, price;
  const bool has_day = chart_day(code, date, price);
  if (auto* c = control<QLineEdit>(chart, "meigara_code_txt")) code_->setText(c->text().trimmed());
  if (has_day) {
    date_->setText(date);
    price_->setText(price);
  }
  shares_->clear();
}


// ---- the ledger pages ----

namespace {

// The 「成績」 chart: the portfolio's time-weighted growth of 100 (red) and the reference
// index's (blue) over the period.
class PerfChart : public QWidget {
 public:
  explicit PerfChart(QWidget* parent) : QWidget(parent) { setMinimumSize(760, 260); }
  void set_points(std::vector<ledger::ValuePoint> points) {
    points_ = std::move(points);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect().adjusted(56, 12, -12, -24);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(area);
    if (points_.size() < 2) {
      p.drawText(area, Qt::AlignCenter, QStringLiteral("期間を指定して「計算」を押してください"));
      return;
    }
    double lo = 100, hi = 100;
    for (const auto& v : points_) {
      lo = std::min({lo, v.index, v.benchmark});
      hi = std::max({hi, v.index, v.benchmark});
    }
    if (hi - lo < 1e-9) hi = lo + 1;
    const double n = static_cast<double>(points_.size() - 1);
    auto at = [&](std::size_t i, double y) {
      return QPointF(area.left() + area.width() * static_cast<double>(i) / n,
                     area.bottom() - area.height() * (y - lo) / (hi - lo));
    };
    p.setPen(QColor(96, 96, 96));
    p.drawText(QRect(0, area.top() - 6, 52, 14), Qt::AlignRight, QString::number(hi, 'f', 1));
    p.drawText(QRect(0, area.bottom() - 8, 52, 14), Qt::AlignRight, QString::number(lo, 'f', 1));
    p.drawText(QRect(area.left(), area.bottom() + 4, 120, 16), Qt::AlignLeft,
               QString::fromStdString(ledger::date_text(points_.front().date)));
    p.drawText(QRect(area.right() - 120, area.bottom() + 4, 120, 16), Qt::AlignRight,
               QString::fromStdString(ledger::date_text(points_.back().date)));
    for (int line = 0; line < 2; ++line) {
      QPainterPath path;
      for (std::size_t i = 0; i < points_.size(); ++i) {
        const QPointF pt = at(i, line == 0 ? points_[i].index : points_[i].benchmark);
        if (i == 0) {
          path.moveTo(pt);
        } else {
          path.lineTo(pt);
        }
      }
      p.setPen(QPen(line == 0 ? QColor(220, 0, 0) : QColor(0, 0, 200), 1.5));
      p.drawPath(path);
    }
    p.setPen(QColor(220, 0, 0));
    p.drawText(area.adjusted(8, 4, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("ポートフォリオ（時間加重）"));
    p.setPen(QColor(0, 0, 200));
    p.drawText(area.adjusted(8, 20, 0, 0), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("基準指数"));
  }

 private:
  std::vector<ledger::ValuePoint> points_;
};

QTableWidget* make_grid(QWidget* parent, const char* name, int width, int height) {
  auto* g = new QTableWidget(parent);
  g->setObjectName(QString::fromLatin1(name));
  g->verticalHeader()->setVisible(false);
  g->verticalHeader()->setDefaultSectionSize(kRowHeight);
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setSelectionBehavior(QAbstractItemView::SelectRows);
  g->setSelectionMode(QAbstractItemView::SingleSelection);
  g->setFixedSize(width, height);
  return g;
}

// Shows a table of the ledger's pages: numbers right-aligned, losses in blue and gains in red
// where the column is a gain.
void fill_grid(QTableWidget* g, const ledger::Table& t) {
  g->clear();
  g->setColumnCount(static_cast<int>(t.captions.size()));
  g->setRowCount(static_cast<int>(t.rows.size()));
  QStringList headers;
  for (const std::string& c : t.captions) headers << QString::fromStdString(c);
  g->setHorizontalHeaderLabels(headers);
  for (std::size_t r = 0; r < t.rows.size(); ++r) {
    for (std::size_t c = 0; c < t.rows[r].size(); ++c) {
      const ledger::Cell& cell = t.rows[r][c];
      auto* item = new QTableWidgetItem(QString::fromStdString(cell.text));
      const bool number = cell.has_number && cell.kind != ledger::CellKind::date;
      item->setTextAlignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
      const QString caption = headers.value(static_cast<int>(c));
      if (number && (caption.contains(QStringLiteral("損益")) || caption.contains(QStringLiteral("収益"))) &&
          cell.number != 0) {
        item->setForeground(cell.number > 0 ? QColor(255, 0, 0) : QColor(0, 0, 255));
      }
      g->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  }
  g->resizeColumnsToContents();
}

QComboBox* account_combo(QWidget* parent, const char* name, bool with_all) {
  auto* c = new QComboBox(parent);
  c->setObjectName(QString::fromLatin1(name));
  if (with_all) c->addItem(QStringLiteral("全口座"), -1);
  for (ledger::Account a : ledger::kAccounts) {
    c->addItem(QString::fromStdString(std::string(ledger::account_name(a))), static_cast<int>(a));
  }
  return c;
}

std::optional<ledger::Account> chosen_account(const QComboBox* c) {
  const int v = c->currentData().toInt();
  if (v < 0) return std::nullopt;
  return static_cast<ledger::Account>(v);
}

}  // namespace

QWidget* PortfolioWindow::build_trades_page() {
  auto* page = new QWidget(this);
  trades_grid_ = make_grid(page, "ledger_grid", 980, 300);
  l_date_ = make_edit(page, "ledger_date_txt", 90);
  l_kind_ = new QComboBox(page);
  l_kind_->setObjectName(QStringLiteral("ledger_kind_cmb"));
  l_kind_->setFixedWidth(80);
  for (ledger::Kind k : {ledger::Kind::buy, ledger::Kind::sell, ledger::Kind::dividend,
                         ledger::Kind::deposit, ledger::Kind::withdraw}) {
    l_kind_->addItem(QString::fromStdString(std::string(ledger::kind_name(k))),
                     QString::fromStdString(std::string(ledger::kind_key(k))));
  }
  l_code_ = make_edit(page, "ledger_code_txt", 60);
  l_shares_ = make_edit(page, "ledger_shares_txt", 90);
  l_price_ = make_edit(page, "ledger_price_txt", 90);
  l_amount_ = make_edit(page, "ledger_amount_txt", 100);
  l_fee_ = make_edit(page, "ledger_fee_txt", 70);
  l_tax_ = make_edit(page, "ledger_tax_txt", 80);
  l_account_ = account_combo(page, "ledger_account_cmb", false);
  l_account_->setFixedWidth(150);
  auto* fields = new QGridLayout;
  const std::pair<QString, QWidget*> cells[9] = {
      {QStringLiteral("日付"), l_date_},       {QStringLiteral("区分"), l_kind_},
      {QStringLiteral("コード"), l_code_},     {QStringLiteral("株数"), l_shares_},
      {QStringLiteral("単価"), l_price_},      {QStringLiteral("金額"), l_amount_},
      {QStringLiteral("手数料"), l_fee_},      {QStringLiteral("源泉税"), l_tax_},
      {QStringLiteral("口座"), l_account_}};
  for (int i = 0; i < 9; ++i) {
    fields->addWidget(new QLabel(cells[i].first, page), 0, i);
    fields->addWidget(cells[i].second, 1, i);
  }
  fields->setColumnStretch(9, 1);
  auto* buttons = new QHBoxLayout;
  QPushButton* add = make_button(page, "ledger_add_cmd", QStringLiteral("追加"));
  QPushButton* change = make_button(page, "ledger_change_cmd", QStringLiteral("修正"));
  QPushButton* remove = make_button(page, "ledger_delete_cmd", QStringLiteral("削除"));
  QPushButton* from_chart = make_button(page, "ledger_take_cmd", QStringLiteral("チャートから取込"));
  QPushButton* from_ptf =
      make_button(page, "ledger_import_ptf_cmd", QStringLiteral("ポートフォリオから取込"));
  QPushButton* out = make_button(page, "ledger_export_cmd", QStringLiteral("出力"));
  for (QPushButton* b : {add, change, remove}) buttons->addWidget(b);
  buttons->addStretch(1);
  for (QPushButton* b : {from_chart, from_ptf, out}) buttons->addWidget(b);
  l_alert_ = new QLabel(page);
  l_alert_->setObjectName(QStringLiteral("ledger_alert_lb"));
  l_alert_->setMinimumHeight(22);
  l_alert_->setWordWrap(true);
  auto* v = new QVBoxLayout(page);
  v->addWidget(trades_grid_);
  v->addLayout(fields);
  v->addLayout(buttons);
  v->addWidget(l_alert_);
  v->addStretch(1);
  connect(add, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_add);
  connect(change, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_change);
  connect(remove, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_delete);
  connect(from_chart, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_from_chart);
  connect(from_ptf, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_from_portfolio);
  connect(out, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_export);
  connect(trades_grid_, &QTableWidget::cellClicked, this, [this](int row, int) { select_trade(row); });
  return page;
}

QWidget* PortfolioWindow::build_pnl_page() {
  auto* page = new QWidget(this);
  pnl_year_ = new QComboBox(page);
  pnl_year_->setObjectName(QStringLiteral("pnl_year_cmb"));
  pnl_account_ = account_combo(page, "pnl_account_cmb", true);
  QPushButton* out = make_button(page, "pnl_export_cmd", QStringLiteral("出力"));
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("年"), page));
  top->addWidget(pnl_year_);
  top->addSpacing(12);
  top->addWidget(new QLabel(QStringLiteral("口座"), page));
  top->addWidget(pnl_account_);
  top->addStretch(1);
  top->addWidget(out);
  pnl_holdings_ = make_grid(page, "pnl_grid", 980, 200);
  pnl_year_grid_ = make_grid(page, "pnl_year_grid", 430, 250);
  pnl_nisa_ = make_grid(page, "pnl_nisa_grid", 380, 112);
  pnl_dividends_ = make_grid(page, "dividend_grid", 190, 300);
  auto* lower = new QHBoxLayout;
  const std::pair<QString, QTableWidget*> boxes[3] = {
      {QStringLiteral("年間損益"), pnl_year_grid_},
      {QStringLiteral("NISA投資枠"), pnl_nisa_},
      {QStringLiteral("配当（実績・予想）"), pnl_dividends_}};
  for (const auto& [caption, grid] : boxes) {
    auto* box = new QVBoxLayout;
    box->addWidget(new QLabel(caption, page));
    box->addWidget(grid);
    box->addStretch(1);
    lower->addLayout(box);
  }
  lower->addStretch(1);
  auto* v = new QVBoxLayout(page);
  v->addLayout(top);
  v->addWidget(new QLabel(QStringLiteral("保有（口座別）"), page));
  v->addWidget(pnl_holdings_);
  v->addLayout(lower);
  v->addStretch(1);
  connect(pnl_year_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) fill_pnl();
  });
  connect(pnl_account_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) fill_pnl();
  });
  connect(out, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_export);
  return page;
}

QWidget* PortfolioWindow::build_perf_page() {
  auto* page = new QWidget(this);
  perf_from_ = make_edit(page, "perf_from_txt", 90);
  perf_to_ = make_edit(page, "perf_to_txt", 90);
  perf_account_ = account_combo(page, "perf_account_cmb", true);
  QPushButton* run = make_button(page, "perf_run_cmd", QStringLiteral("計算"));
  QPushButton* out = make_button(page, "perf_export_cmd", QStringLiteral("出力"));
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("期間"), page));
  top->addWidget(perf_from_);
  top->addWidget(new QLabel(QStringLiteral("～"), page));
  top->addWidget(perf_to_);
  top->addSpacing(12);
  top->addWidget(new QLabel(QStringLiteral("口座"), page));
  top->addWidget(perf_account_);
  top->addWidget(run);
  top->addStretch(1);
  top->addWidget(out);
  perf_result_ = new QLabel(page);
  perf_result_->setObjectName(QStringLiteral("perf_result_lb"));
  perf_result_->setMinimumHeight(44);
  perf_result_->setWordWrap(true);
  perf_chart_ = new PerfChart(page);
  perf_chart_->setObjectName(QStringLiteral("perf_chart"));
  auto* v = new QVBoxLayout(page);
  v->addLayout(top);
  v->addWidget(perf_result_);
  v->addWidget(perf_chart_);
  v->addStretch(1);
  connect(run, &QPushButton::clicked, this, &PortfolioWindow::fill_perf);
  connect(out, &QPushButton::clicked, this, &PortfolioWindow::on_ledger_export);
  return page;
}

void PortfolioWindow::ledger_status(const QString& text, bool error) {
  l_alert_->setText(text);
  set_label_color(l_alert_, error ? QColor(255, 0, 0) : QColor(0, 0, 255));
}

void PortfolioWindow::refresh_ledger() {
  if (!ledger_ || !book_) return;
  const ledger::LoadResult r = ledger_->load(book_->file_no());
  trades_ = r.transactions;
  trade_selected_ = -1;
  fill_grid(trades_grid_, ledger::trades_table(trades_));
  if (r.status == ledger::LoadStatus::damaged) {
    ledger_status(QStringLiteral("エラー：台帳の内容を読み取れません（%1）。読み取れた取引だけを表示し、"
                                 "ファイルは変更しません。")
                      .arg(qs(r.problem)),
                  true);
  } else if (r.status == ledger::LoadStatus::unreadable) {
    ledger_status(QStringLiteral("エラー：台帳を開けません。"), true);
  } else {
    ledger_status(QString(), false);
  }
  // The years from the first entry to today, newest first.
  const int today = ledger_->today();
  const int first = trades_.empty() ? today / 10000 : trades_.front().date / 10000;
  const QString kept = pnl_year_->currentText();
  filling_ = true;
  pnl_year_->clear();
  for (int y = today / 10000; y >= first && y >= 1900; --y) pnl_year_->addItem(QString::number(y));
  const int at = pnl_year_->findText(kept);
  pnl_year_->setCurrentIndex(at >= 0 ? at : 0);
  if (perf_from_->text().isEmpty()) {
    perf_from_->setText(QString::number(trades_.empty() ? today / 10000 * 10000 + 101
                                                        : trades_.front().date));
  }
  if (perf_to_->text().isEmpty()) perf_to_->setText(QString::number(today));
  filling_ = false;
  fill_pnl();
}

void PortfolioWindow::fill_pnl() {
  if (!ledger_) return;
  const int today = ledger_->today();
  const int year = pnl_year_->currentText().isEmpty() ? today / 10000 : pnl_year_->currentText().toInt();
  const std::optional<ledger::Account> only = chosen_account(pnl_account_);
  const ledger::PnlReport r =
      ledger::pnl_report(ledger_->source(), trades_, year, today, only ? &*only : nullptr);
  const ledger::Table holdings = ledger::holdings_table(r);
  const ledger::Table years = ledger::year_table(r);
  const ledger::Table nisa = ledger::nisa_table(r);
  const ledger::Table dividends =
      ledger::dividend_table(ledger::dividend_calendar(ledger_->source(), trades_, year, today));
  fill_grid(pnl_holdings_, holdings);
  fill_grid(pnl_year_grid_, years);
  fill_grid(pnl_nisa_, nisa);
  fill_grid(pnl_dividends_, dividends);
  last_tables_ = {ledger::trades_table(trades_), holdings, ledger::sales_table(r), years, nisa,
                  dividends};
  if (!r.problems.empty()) {
    ledger_status(QStringLiteral("注意：%1件の取引を数えていません（%2）")
                      .arg(r.problems.size())
                      .arg(qs(r.problems.front().message)),
                  true);
  }
}

void PortfolioWindow::fill_perf() {
  if (!ledger_) return;
  const std::string from = portfolio::purchase_date_text(perf_from_->text().toStdString());
  const std::string to = portfolio::purchase_date_text(perf_to_->text().toStdString());
  if (from.empty() || to.empty() || from > to) {
    perf_result_->setText(QStringLiteral("期間を YYYYMMDD で入力してください（開始日 ≦ 終了日）。"));
    set_label_color(perf_result_, QColor(255, 0, 0));
    return;
  }
  const std::optional<ledger::Account> only = chosen_account(perf_account_);
  perf_ = ledger::measure(ledger_->source(), trades_, static_cast<int>(parse_integer(from)),
                          static_cast<int>(parse_integer(to)), only ? &*only : nullptr);
  auto pct = [](const std::optional<double>& v) {
    return v ? QString::number(*v, 'f', 2) + QStringLiteral("%") : QStringLiteral("-");
  };
  if (!perf_.problem.empty()) {
    perf_result_->setText(qs(perf_.problem));
    set_label_color(perf_result_, QColor(255, 0, 0));
  } else {
    perf_result_->setText(
        QStringLiteral("時間加重収益率 %1　　金額加重収益率（年率）%2　　基準指数 %3　　評価額 %4円\n"
                       "%5 の終値から %6 まで（%7）")
            .arg(pct(perf_.twr), pct(perf_.irr), pct(perf_.benchmark),
                 qs(ledger::yen_text(std::llround(perf_.points.back().value))),
                 qs(perf_.base ? ledger::date_text(perf_.base) : std::string("期間の初日")),
                 qs(ledger::date_text(perf_.end)),
                 perf_.cash ? QStringLiteral("入出金を含む評価額")
                            : QStringLiteral("入出金なし：保有株の評価額、買付を入金、売却と配当を出金として")));
    set_label_color(perf_result_, QColor(0, 0, 0));
  }
  static_cast<PerfChart*>(perf_chart_)->set_points(perf_.points);
}

ledger::Entry PortfolioWindow::ledger_entry() const {
  return {l_date_->text().trimmed().toStdString(),
          l_kind_->currentData().toString().toStdString(),
          l_code_->text().trimmed().toStdString(),
          l_shares_->text().trimmed().toStdString(),
          l_price_->text().trimmed().toStdString(),
          l_amount_->text().trimmed().toStdString(),
          l_fee_->text().trimmed().toStdString(),
          l_tax_->text().trimmed().toStdString(),
          std::string(ledger::account_key(
              static_cast<ledger::Account>(l_account_->currentData().toInt())))};
}

void PortfolioWindow::select_trade(int row) {
  if (row < 0 || row >= static_cast<int>(trades_.size())) return;
  trade_selected_ = row;
  const ledger::Transaction& t = trades_[static_cast<std::size_t>(row)];
  l_date_->setText(QString::number(t.date));
  l_kind_->setCurrentIndex(l_kind_->findData(qs(std::string(ledger::kind_key(t.kind)))));
  l_code_->setText(qs(t.code));
  const bool trade = ledger::is_trade(t.kind);
  l_shares_->setText(trade ? qs(ledger::fixed_text(t.shares)) : QString());
  l_price_->setText(trade ? qs(ledger::fixed_text(t.price)) : QString());
  l_amount_->setText(trade ? QString() : QString::number(t.amount));
  l_fee_->setText(trade ? QString::number(t.fee) : QString());
  l_tax_->setText(t.kind == ledger::Kind::dividend ? QString::number(t.tax) : QString());
  l_account_->setCurrentIndex(l_account_->findData(static_cast<int>(t.account)));
}

void PortfolioWindow::on_ledger_add() {
  if (!ledger_ || !book_) return;
  std::string problem;
  const std::optional<ledger::Transaction> t = ledger::transaction_from_entry(ledger_entry(), problem);
  if (!t) return ledger_status(qs(problem), true);
  const ledger::Outcome o = ledger_->add(book_->file_no(), *t);
  if (!o.ok) return ledger_status(qs(o.message), true);
  refresh_ledger();
  ledger_status(QStringLiteral("追加しました。"), false);
}

void PortfolioWindow::on_ledger_change() {
  if (!ledger_ || !book_ || trade_selected_ < 0) return;
  std::string problem;
  const std::optional<ledger::Transaction> t = ledger::transaction_from_entry(ledger_entry(), problem);
  if (!t) return ledger_status(qs(problem), true);
  const ledger::Outcome o =
      ledger_->replace(book_->file_no(), static_cast<std::size_t>(trade_selected_), *t, &trades_);
  if (!o.ok) {
    // Changed by another writer meanwhile: show the file as it is now.
    if (ledger_->load(book_->file_no()).transactions != trades_) refresh_ledger();
    return ledger_status(qs(o.message), true);
  }
  refresh_ledger();
  ledger_status(QStringLiteral("修正しました。"), false);
}

void PortfolioWindow::on_ledger_delete() {
  if (!ledger_ || !book_ || trade_selected_ < 0) return;
  const ledger::Transaction& t = trades_[static_cast<std::size_t>(trade_selected_)];
  const QString question = QStringLiteral("No.%1（%2 %3 %4）を削除しますか？")
                               .arg(trade_selected_ + 1)
                               .arg(qs(ledger::date_text(t.date)),
                                    qs(std::string(ledger::kind_name(t.kind))), qs(t.code));
  if (confirm && !confirm(question)) return;
  const ledger::Outcome o =
      ledger_->remove(book_->file_no(), static_cast<std::size_t>(trade_selected_), &trades_);
  if (!o.ok) {
    // Changed by another writer meanwhile: show the file as it is now.
    if (ledger_->load(book_->file_no()).transactions != trades_) refresh_ledger();
    return ledger_status(qs(o.message), true);
  }
  refresh_ledger();
  ledger_status(QStringLiteral("削除しました。"), false);
}

void PortfolioWindow::on_ledger_from_portfolio() {
  if (!ledger_ || !book_) return;
  const QString question =
      QStringLiteral("ptf%1.csv の保有銘柄を、それぞれの取得日・取得株価で特定(源泉あり)の買付として"
                     "台帳に追加しますか？（ptf%1.csv は変更しません）")
          .arg(book_->file_no());
  if (confirm && !confirm(question)) return;
  const std::size_t before = trades_.size();
  const ledger::Outcome o = ledger_->import_portfolio(book_->file_no());
  if (!o.ok) return ledger_status(qs(o.message), true);
  refresh_ledger();
  ledger_status(QStringLiteral("%1件の買付を取り込みました。").arg(trades_.size() - before), false);
}

void PortfolioWindow::on_ledger_from_chart() {
  QString code, date, price;
  if (!chart_day(code, date, price)) {
    return ledger_status(QStringLiteral("チャートに日付が表示されていません。"), true);
  }
  l_code_->setText(code);
  l_date_->setText(date);
  l_price_->setText(price);
  l_kind_->setCurrentIndex(0);  // 買付
  l_shares_->clear();
  l_amount_->clear();
  l_shares_->setFocus();
}

void PortfolioWindow::on_ledger_export() {
  if (!ledger_ || !book_) return;
  std::vector<ledger::Table> tables = last_tables_;
  if (tables.empty()) tables.push_back(ledger::trades_table(trades_));
  if (!perf_.points.empty()) tables.push_back(ledger::returns_table(perf_));
  const QString suggested = QStringLiteral("ledger_ptf%1.xlsx").arg(book_->file_no());
  QString path;
  if (export_path) {
    path = export_path(suggested);
  } else {
    path = QFileDialog::getSaveFileName(this, QStringLiteral("出力"), suggested,
                                        QStringLiteral("Excel (*.xlsx)"));
  }
  if (path.isEmpty()) return;
  std::string error;
  if (!ledger::export_xlsx(tables, path.toStdString(), error)) return ledger_status(qs(error), true);
  ledger_status(QStringLiteral("%1 に出力しました。").arg(path), false);
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("portforio", [] { return new lp::gui::PortfolioWindow; });
