#include "portfolio/portfolio_window.h"

#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
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

  auto* root = new QVBoxLayout(this);
  root->addLayout(top);
  root->addWidget(grid_);
  root->addLayout(totals);
  root->addLayout(entry);
  root->addWidget(alert_);
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

void PortfolioWindow::on_take_over() {
  if (!ready_) return;
  clear_main_message();
  QWidget* chart = WindowHub::instance().window(QStringLiteral("graph"), false);
  if (!chart) return;
  if (auto* code = control<QLineEdit>(chart, "meigara_code_txt")) {
    code_->setText(code->text().trimmed());
  }
  // The chart's day grid: row 0 holds the titles, row 1 the day (date, open, high, low, close).
  auto* grid = control<QTableWidget>(chart, "MSFlexGrid1");
  const QTableWidgetItem* day = grid ? grid->item(1, 0) : nullptr;
  if (day && digits_only(day->text()).size() == 8) {
    // A selected open, high or low is the price taken; otherwise the close.
    const int selected = grid->currentRow() == 1 ? grid->currentColumn() : -1;
    const QTableWidgetItem* cell = grid->item(1, selected >= 1 && selected <= 4 ? selected : 4);
    QString price = cell ? cell->text().trimmed().remove(QLatin1Char(',')) : QString();
    date_->setText(digits_only(day->text()));
    // A day without trading shows "-": no price rather than the one typed before.
    price_->setText(parse_number(price.toStdString()) > 0 ? price : QString());
  }
  shares_->clear();
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("portforio", [] { return new lp::gui::PortfolioWindow; });
