#include "search/search_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "common/settings.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

QString chart_query() {
  QWidget* chart = WindowHub::instance().window(QStringLiteral("graph"), false);
  auto* box = control<QLineEdit>(chart, "meigara_txt");
  return box ? box->text().trimmed() : QString();
}

QLineEdit* chart_name_box() {
  QWidget* chart = WindowHub::instance().window(QStringLiteral("graph"), false);
  return control<QLineEdit>(chart, "meigara_txt");
}

}  // namespace

QPoint place_beside(const QRect& anchor, const QSize& size, const QRect& screen) {
  constexpr int kGap = 8;
  const auto fits = [&](const QPoint& at) { return screen.contains(QRect(at, size)); };
  const QPoint right(anchor.right() + 1 + kGap, anchor.top());
  const QPoint left(anchor.left() - kGap - size.width(), anchor.top());
  const QPoint below(anchor.left(), anchor.bottom() + 1 + kGap);
  for (QPoint at : {right, left, below}) {
    // Slid up (or left) to stay on the screen, as long as that does not cover the box.
    at.setY(std::max(screen.top(), std::min(at.y(), screen.bottom() + 1 - size.height())));
    at.setX(std::max(screen.left(), std::min(at.x(), screen.right() + 1 - size.width())));
    if (fits(at) && !QRect(at, size).intersects(anchor)) return at;
  }
  // A screen too small for any of them: the right of the box, as far as the screen allows.
  return QPoint(std::max(screen.left(), std::min(right.x(), screen.right() + 1 - size.width())),
                std::max(screen.top(), std::min(right.y(), screen.bottom() + 1 - size.height())));
}

SearchWindow::SearchWindow(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("銘柄検索- ルーメンピックソフトウェア- NORDHAVEN -"));
  Command1_ = new QPushButton(QStringLiteral("検索"), this);
  Command1_->setObjectName("Command1");
  List1_ = new QListWidget(this);
  List1_->setObjectName("List1");
  List1_->setMinimumSize(340, 360);
  flg_lb_ = new QLabel(this);
  flg_lb_->setObjectName("flg_lb");
  flg_lb_->hide();
  cut_lb_ = new QLabel(QStringLiteral("上位100件を表示"), this);
  cut_lb_->setObjectName("cut_lb");
  cut_lb_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(cut_lb_);
  layout->addWidget(List1_);
  layout->addWidget(Command1_, 0, Qt::AlignRight);
  layout->addWidget(flg_lb_);

  connect(Command1_, &QPushButton::clicked, this, [this] { run_search(); });
  connect(List1_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { pick(List1_->row(item)); });
  connect(List1_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { pick(List1_->row(item)); });
  connect(&flag_timer_, &QTimer::timeout, this, [this] { check_start_flag(); });
  flag_timer_.start(30);
}

void SearchWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (opened_) return;
  opened_ = true;
  search_.reopen();
  // Beside the chart's name box, so the query stays in sight.
  if (QLineEdit* box = chart_name_box(); box && box->isVisible()) {
    const QRect anchor(box->mapToGlobal(QPoint(0, 0)), box->size());
    const QScreen* screen = box->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QSize frame = frameGeometry().size().expandedTo(size());
    move(place_beside(anchor, frame, area));
  }
  // Nothing to look for: the window has no query box of its own.
  if (chart_query().isEmpty()) QTimer::singleShot(0, this, &QWidget::close);
}

void SearchWindow::check_start_flag() {
  if (ready_ && flg_lb_->text() == QLatin1String("start")) run_search();
}

void SearchWindow::set_list_colour(const QColor& colour) {
  QPalette palette = List1_->palette();
  palette.setColor(QPalette::Text, colour);
  List1_->setPalette(palette);
}

void SearchWindow::run_search() {
  if (!ready_) return;
  ready_ = false;
  WindowHub& hub = WindowHub::instance();
  const Platform& platform = hub.platform();
  hits_.clear();
  List1_->clear();
  cut_lb_->hide();
  set_list_colour(QColor(0, 0, 255));
  List1_->addItem(QStringLiteral("処理中です。しばらくおまちください。"));
  process_events_now();

  const AppFolders folders = read_settei_sub(platform.documents_folder, platform.desktop_folder);
  const std::string today = platform.today ? platform.today() : std::string();
  std::vector<SearchHit> hits;
  const auto status = search_.search(folders, today, chart_query().toStdString(), hits);
  List1_->clear();
  if (status != StockSearch::Status::ok) {
    set_list_colour(QColor(255, 0, 0));
    List1_->addItem(QStringLiteral("銘柄の検索ができません。"));
  } else {
    for (const SearchHit& hit : hits) {
      List1_->addItem(q(hit.code) + QStringLiteral("　") + q(hit.name));
      yield_now(platform.yield);
    }
    hits_ = std::move(hits);
    cut_lb_->setVisible(search_.last_cut());
  }
  // Cleared in every case, so a failed search is not started again by the same flag.
  flg_lb_->clear();
  ready_ = true;
}

void SearchWindow::pick(int line) {
  if (!ready_ || line < 0 || static_cast<std::size_t>(line) >= hits_.size()) return;
  const SearchHit hit = hits_[static_cast<std::size_t>(line)];
  WindowHub& hub = WindowHub::instance();
  QWidget* chart = hub.window(QStringLiteral("graph"), false);
  if (!chart) chart = hub.show_window(QStringLiteral("graph"));
  if (!chart) return;  // no chart built in
  if (auto* check = control<QCheckBox>(chart, "refer1_chk")) check->setChecked(false);
  if (auto* ref = control<QLineEdit>(chart, "refer1_txt")) ref->setText(QStringLiteral("1000"));
  if (auto* name = control<QLineEdit>(chart, "meigara_txt")) name->setText(q(chart_name(hit.name)));
  if (auto* code = control<QLineEdit>(chart, "meigara_code_txt")) {
    code->setText(q(hit.code).trimmed());
  }
  for (const char* label : {"graph_modecnt1", "graph_mode1"}) {
    if (auto* l = control<QLabel>(chart, label)) l->setText(QStringLiteral("2"));
  }
}

}  // namespace lp::gui

LP_REGISTER_WINDOW("m_kensaku_frm", [] { return new lp::gui::SearchWindow; });
