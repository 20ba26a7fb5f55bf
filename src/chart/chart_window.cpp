#include "chart/chart_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTableWidget>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "chart/chart_painter.h"
#include "chart/links.h"
#include "common/numbers.h"
#include "pricedb/fundamentals.h"
#include "pricedb/series.h"
#include "shell/window_hub_gui.h"

namespace lp::chart {

using gui::WindowHub;

namespace {

// Pane heights are kept in twips like the rest of the layout; ten twips make a pixel, which
// gives a 350-pixel price pane.
constexpr int kTwipsPerPixel = 10;

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}
std::string ss(const QString& s) {
  return s.toStdString();
}

QString color_css(int palette) {
  return palette_color(palette).name();
}

QComboBox* make_combo(const char* name, int width) {
  auto* c = new QComboBox;
  c->setObjectName(QLatin1String(name));
  c->setEditable(true);
  c->setInsertPolicy(QComboBox::NoInsert);
  c->setFixedWidth(width);
  return c;
}

QCheckBox* make_check(const char* name, const QString& caption) {
  auto* c = new QCheckBox(caption);
  c->setObjectName(QLatin1String(name));
  return c;
}

QLineEdit* make_edit(const char* name, const QString& text, int width) {
  auto* e = new QLineEdit(text);
  e->setObjectName(QLatin1String(name));
  e->setFixedWidth(width);
  return e;
}

QLabel* caption(const QString& text) {
  return new QLabel(text);
}

void set_combo(QComboBox* combo, const ComboPrefs& prefs) {
  combo->clear();
  for (const std::string& item : prefs.items) combo->addItem(qs(item));
  combo->setEditText(qs(prefs.text));
}

QTableWidget* make_grid(const char* name, const std::vector<std::string>& headers) {
  auto* g = new QTableWidget(2, static_cast<int>(headers.size()));
  g->setObjectName(QLatin1String(name));
  g->horizontalHeader()->hide();
  g->verticalHeader()->hide();
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setSelectionMode(QAbstractItemView::ContiguousSelection);
  g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (int c = 0; c < g->columnCount(); ++c) {
    // Row 0 is the grid's fixed title row.
    auto* item = new QTableWidgetItem(qs(headers[static_cast<std::size_t>(c)]));
    item->setTextAlignment(Qt::AlignCenter);
    item->setBackground(QColor(224, 224, 224));
    g->setItem(0, c, item);
    g->setItem(1, c, new QTableWidgetItem);
  }
  g->resizeRowsToContents();
  g->setFixedHeight(g->rowHeight(0) + g->rowHeight(1) + 2 * g->frameWidth());
  return g;
}

}  // namespace

// ---------------------------------------------------------------- panes

ChartPane::ChartPane(ChartWindow* owner, int index) : owner_(owner), index_(index) {
  setObjectName(QStringLiteral("Picture1_%1").arg(index));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // A click gives the pane the keys (← → Home End + -) without taking them from the boxes.
  setFocusPolicy(Qt::ClickFocus);
}

QSize ChartPane::sizeHint() const {
  return {1000, kPaneHeightTwips[static_cast<std::size_t>(index_)] / kTwipsPerPixel};
}

void ChartPane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const ChartScene& scene = owner_->scene();
  paint_pane(p, QRectF(rect()), scene, index_);
  if (owner_->crosshair_bar() != 0) {
    const bool here = owner_->crosshair_pane() == index_;
    paint_crosshair(p, QRectF(rect()), scene, index_, owner_->crosshair_bar(), here,
                    owner_->crosshair_value(), owner_->crosshair_text(index_));
  }
}

void ChartPane::mouseMoveEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  if (dragging_ && !drawing_ && (event->buttons() & Qt::LeftButton)) {
    // The bars follow the pointer: dragging to the right brings older bars into view.
    const ChartScene& s = owner_->scene();
    const double per_bar = width() * 0.91 / std::max(s.n, 1);
    const int bars = static_cast<int>(std::lround((pos.x() - drag_x_) / per_bar));
    owner_->show_first(drag_first_ + bars);
  }
  owner_->mouse_over_pane(index_, pos.x(), width());
  owner_->crosshair_at(index_, pos.x(), pos.y(), width(), height());
  // Hovering an event mark says what it is.
  const QString event_text = owner_->event_text_at(index_, pos.x(), pos.y(), width(), height());
  if (event_text != toolTip()) {
    setToolTip(event_text);
    if (event_text.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(event->globalPosition().toPoint(), event_text, this);
    }
  }
}

void ChartPane::mousePressEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  if (event->button() == Qt::RightButton && index_ == kPricePane) {
    owner_->delete_trend_line_at(pos.x(), pos.y(), width(), height());
    return;
  }
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  if (index_ == kPricePane && (event->modifiers() & Qt::ShiftModifier)) {
    drawing_ = true;
    owner_->start_trend_line(pos.x(), pos.y(), width(), height());
    return;
  }
  dragging_ = true;
  drag_x_ = event->position().x();
  drag_first_ = owner_->scene().first;
  setCursor(Qt::ClosedHandCursor);
}

void ChartPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && drawing_) {
    drawing_ = false;
    owner_->end_trend_line(event->position().x(), event->position().y(), width(), height());
    return;
  }
  if (event->button() == Qt::LeftButton) {
    dragging_ = false;
    unsetCursor();
  }
  QWidget::mouseReleaseEvent(event);
}

void ChartPane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) owner_->reset_view();
}

void ChartPane::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0) return;
  // One notch of the wheel shows a fifth fewer (or a quarter more) bars.
  owner_->zoom_at(index_, event->position().x(), width(), delta > 0 ? 0.8 : 1.25);
  event->accept();
}

void ChartPane::keyPressEvent(QKeyEvent* event) {
  if (!owner_->view_key(event->key())) QWidget::keyPressEvent(event);
}

void ChartPane::leaveEvent(QEvent* event) {
  owner_->hide_crosshair();
  QWidget::leaveEvent(event);
}

// ---------------------------------------------------------------- window

ChartWindow::ChartWindow(QWidget* parent)
    : QWidget(parent), scene_(std::make_unique<ChartScene>()) {
  setWindowTitle(QStringLiteral("チャート　- ルーメンピックソフトウェア　- NORDHAVEN -"));
  open_url_ = [](const QString& program, const QString& url) {
    if (!program.isEmpty() && QProcess::startDetached(program, {url})) return;
    QDesktopServices::openUrl(QUrl::fromUserInput(url));
  };
  build_controls();
  start_up();
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::build_controls() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 6);
  root->setSpacing(4);

  // Row 1: stock, period, stepping, links.
  auto* row1 = new QHBoxLayout;
  code_txt_ = make_edit("meigara_code_txt", QString(), 56);
  code_txt_->installEventFilter(this);
  name_txt_ = make_edit("meigara_txt", QString(), 130);
  search_cmd_ = new QPushButton(QStringLiteral("銘柄検索"));
  search_cmd_->setObjectName(QStringLiteral("m_kensaku_cmd"));
  auto* disp_cmd = new QPushButton(QStringLiteral("表示"));
  disp_cmd->setObjectName(QStringLiteral("graphdisp1"));
  kikan_cmb_ = make_combo("kikan_cmb", 72);
  ashi_cmb_ = make_combo("ashi_cmb", 72);
  const char* tags[4] = {"DW", "UP", "FW", "BK"};
  const QString captions[4] = {QStringLiteral("次のコード"), QStringLiteral("次のコード"),
                               QStringLiteral("進む"), QStringLiteral("戻す")};
  // Both step buttons keep the caption 「次のコード」: the tooltip tells the way.
  const QString tips[4] = {QStringLiteral("前のコードへ"), QStringLiteral("次のコードへ"),
                           QStringLiteral("次に見たコードへ"), QStringLiteral("前に見たコードへ")};
  for (int i = 0; i < 4; ++i) {
    step_cmd_[i] = new QPushButton(captions[i]);
    step_cmd_[i]->setObjectName(QStringLiteral("bk_nx_cmd_%1").arg(i));
    step_cmd_[i]->setProperty("tag", QLatin1String(tags[i]));
    step_cmd_[i]->setToolTip(tips[i]);
  }
  link_cmb_ = new QComboBox;
  link_cmb_->setObjectName(QStringLiteral("link_cmb"));
  link_cmb_->setMinimumWidth(140);
  wopen_chk_ = make_check("wopen_chk", QString());
  wopen_chk_->setToolTip(QStringLiteral("ブラウザを指定して開く"));
  image1_ = new QLabel(QStringLiteral("<b>NORDHAVEN</b>"));
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setCursor(Qt::PointingHandCursor);
  image1_->installEventFilter(this);

  row1->addWidget(caption(QStringLiteral("コード")));
  row1->addWidget(code_txt_);
  row1->addWidget(caption(QStringLiteral("銘柄")));
  row1->addWidget(name_txt_);
  row1->addWidget(search_cmd_);
  row1->addWidget(disp_cmd);
  kessan_cmd_ = new QPushButton(QStringLiteral("決算"));
  kessan_cmd_->setObjectName(QStringLiteral("kessan_cmd"));
  kessan_cmd_->setToolTip(QStringLiteral("決算短信の開示を新しい順に表示"));
  row1->addWidget(kessan_cmd_);
  kessan_lb_ = new QLabel;
  kessan_lb_->setObjectName(QStringLiteral("kessan_lb"));
  // The valuation line gives way first on a narrow window (its tooltip keeps it whole).
  kessan_lb_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  kessan_lb_->setMinimumWidth(60);
  row1->addWidget(kessan_lb_, 1);
  row1->addSpacing(8);
  row1->addWidget(caption(QStringLiteral("期間")));
  row1->addWidget(kikan_cmb_);
  row1->addWidget(caption(QStringLiteral("日足/週足/月足")));
  row1->addWidget(ashi_cmb_);
  root->addLayout(row1);
  // The stepping buttons and the links in a row of their own, so the window fits a 1024-pixel
  // screen.
  auto* row1b = new QHBoxLayout;
  row1b->addWidget(step_cmd_[0]);
  row1b->addWidget(step_cmd_[1]);
  row1b->addWidget(step_cmd_[3]);
  row1b->addWidget(step_cmd_[2]);
  row1b->addSpacing(12);
  auto* view_hint =
      new QLabel(QStringLiteral("ホイール:拡大縮小　ドラッグ:移動　ダブルクリック:元の期間"));
  view_hint->setObjectName(QStringLiteral("view_hint_lb"));
  view_hint->setStyleSheet(QStringLiteral("color: #606060;"));
  view_hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  view_hint->setToolTip(QStringLiteral("← →:移動　Home/End:最古/最新　+ −:拡大縮小"));
  row1b->addWidget(view_hint, 1);
  row1b->addWidget(caption(QStringLiteral("リンク先")));
  row1b->addWidget(link_cmb_);
  row1b->addWidget(wopen_chk_);
  row1b->addWidget(image1_);
  root->addLayout(row1b);

  // Row 2: what is drawn.
  auto* row2 = new QHBoxLayout;
  rousoku_chk_ = make_check("rousoku_chk", QStringLiteral("ローソク"));
  dekidaka_chk_ = make_check("dekidaka_chk", QStringLiteral("出来高"));
  hiritu_chk_ = make_check("hiritu_chk", QStringLiteral("比率目盛"));
  refer_chk_ = make_check("refer1_chk", QString());
  refer_chk_->setToolTip(QStringLiteral("基準価格を指定する"));
  refer_txt_ = make_edit("refer1_txt", QStringLiteral("1000"), 64);
  ma_chk_ = make_check("mean_av1_check", QStringLiteral("MA"));
  auto* ma_frame = new QFrame;
  ma_frame->setObjectName(QStringLiteral("mean_av2_frame"));
  auto* ma_lay = new QHBoxLayout(ma_frame);
  ma_lay->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < 2; ++i) {
    ma_cmb_[i] = make_combo(i == 0 ? "mean_av1_cmb_0" : "mean_av1_cmb_1", 56);
    ma_lay->addWidget(ma_cmb_[i]);
  }
  rsi_chk_ = make_check("rsi_chk", QStringLiteral("RSI"));
  auto* rsi_frame = new QFrame;
  rsi_frame->setObjectName(QStringLiteral("rsi_frm"));
  auto* rsi_lay = new QHBoxLayout(rsi_frame);
  rsi_lay->setContentsMargins(0, 0, 0, 0);
  rsi_cmb_ = make_combo("rsi_cmb", 56);
  rsi_lay->addWidget(rsi_cmb_);
  bol_chk_ = make_check("bol1_chk", QStringLiteral("σバンド"));
  auto* bol_frame = new QFrame;
  bol_frame->setObjectName(QStringLiteral("bol1_frm"));
  auto* bol_lay = new QHBoxLayout(bol_frame);
  bol_lay->setContentsMargins(0, 0, 0, 0);
  bol_cmb_ = make_combo("bol1_cmb", 56);
  bol_lay->addWidget(bol_cmb_);
  ma_dif_chk_ = make_check("ma_dif_chk", QStringLiteral("ALG1"));
  alg2_chk_ = make_check("alg2_chk", QStringLiteral("ALG2"));
  for (QWidget* w : std::initializer_list<QWidget*>{
           rousoku_chk_, dekidaka_chk_, hiritu_chk_, refer_chk_, refer_txt_, ma_chk_, ma_frame,
           rsi_chk_, rsi_frame, bol_chk_, bol_frame, ma_dif_chk_, alg2_chk_}) {
    row2->addWidget(w);
  }
  // Shown for the layout's sake; they do nothing yet. They sit after the added indicators.
  const QList<QWidget*> placeholders = {make_check("Check1", QStringLiteral("ALG3")),
                                        make_check("Check3", QStringLiteral("乖離")),
                                        make_check("signal_chk", QStringLiteral("シグナル")),
                                        make_check("osirator_chk", QStringLiteral("オシレータ")),
                                        make_check("Check2", QString()),
                                        make_edit("Text1", QString(), 36),
                                        make_edit("Text2", QStringLiteral("15"), 36)};
  row2->addStretch(1);
  root->addLayout(row2);

  // Row 2b: the added indicators, each switched here with its parameters in init.txt.
  auto* row2b = new QHBoxLayout;
  macd_chk_ = make_check("macd_chk", QStringLiteral("MACD"));
  stoch_chk_ = make_check("stoch_chk", QStringLiteral("ストキャス"));
  rci_chk_ = make_check("rci_chk", QStringLiteral("RCI"));
  ichimoku_chk_ = make_check("ichimoku_chk", QStringLiteral("一目均衡"));
  bb_chk_ = make_check("bb_chk", QStringLiteral("ボリンジャー"));
  vma_chk_ = make_check("vma_chk", QStringLiteral("出来高MA"));
  topix_chk_ = make_check("topix_chk", QStringLiteral("TOPIX比較"));
  topix_chk_->setToolTip(
      QStringLiteral("参照指数を初日の終値にそろえて重ね、相対力（株価÷指数）を表示"));
  for (QCheckBox* c :
       {macd_chk_, stoch_chk_, rci_chk_, ichimoku_chk_, bb_chk_, vma_chk_, topix_chk_}) {
    row2b->addWidget(c);
  }
  row2b->addSpacing(12);
  for (QWidget* w : placeholders) row2b->addWidget(w);
  row2b->addStretch(1);
  root->addLayout(row2b);

  // Row 3: the grids and the ALG2 parameters.
  auto* row3 = new QHBoxLayout;
  grid2_ = make_grid("MSFlexGrid2", grid2_headers());
  grid1_ = make_grid("MSFlexGrid1", grid1_headers());
  const int widths2[12] = {44, 110, 70, 56, 56, 56, 56, 52, 80, 56, 56, 4};
  for (int c = 0; c < 12; ++c) grid2_->setColumnWidth(c, widths2[c]);
  const int widths1[9] = {70, 56, 56, 56, 56, 52, 80, 56, 56};
  for (int c = 0; c < 9; ++c) grid1_->setColumnWidth(c, widths1[c]);
  grid1_->viewport()->installEventFilter(this);
  grid2_->viewport()->installEventFilter(this);
  auto* grids = new QVBoxLayout;
  grids->addWidget(grid2_);
  grids->addWidget(grid1_);
  row3->addLayout(grids, 1);

  auto* alg2 = new QGroupBox(QStringLiteral("ALG2"));
  alg2->setObjectName(QStringLiteral("alg2_frm"));
  auto* a = new QGridLayout(alg2);
  a->setContentsMargins(4, 2, 4, 2);
  a->setHorizontalSpacing(3);
  a->setVerticalSpacing(1);
  auto* set_lb = new QLabel(QStringLiteral("値幅"));
  set_lb->setObjectName(QStringLiteral("alg1_set_lb"));
  a->addWidget(set_lb, 0, 0);
  a->addWidget(make_edit("alg2_nehaba_max_txt", QStringLiteral("20"), 34), 0, 1);
  a->addWidget(make_edit("alg2_nehaba_min_txt", QStringLiteral("15"), 34), 0, 2);
  a->addWidget(make_edit("alg2_nehaba_kikan_txt", QStringLiteral("500"), 34), 0, 3);
  a->addWidget(make_edit("alg2_kikan1_txt", QStringLiteral("15"), 34), 0, 4);
  struct Pair {
    const char* check;
    const char* label;
    const char* max;
    const char* min;
  } pairs[] = {
      {"alg2b_hensa_chk", "偏差", "alg2b_hensa_max_txt", "algb2_hensa_min_txt"},
      {"alg2b_std_dev_chk", "標準偏差", "alg2b_std_dev_max_txt", "alg2b_std_dev_min_txt"},
      {"alg2b_ma1_kairi_chk", "MA1乖離", "alg2b_kairi1_max_txt", "alg2b_kairi1_min_txt"},
      {"alg2b_ma2_kairi_chk", "MA2乖離", "alg2b_kairi2_max_txt", "alg2b_kairi2_min_txt"},
  };
  for (int i = 0; i < 4; ++i) {
    const int r = 1 + i / 2, c = (i % 2) * 3;
    a->addWidget(make_check(pairs[i].check, QString::fromUtf8(pairs[i].label)), r, c);
    a->addWidget(make_edit(pairs[i].max, QStringLiteral("15"), 34), r, c + 1);
    a->addWidget(make_edit(pairs[i].min, QStringLiteral("15"), 34), r, c + 2);
  }
  row3->addWidget(alg2);
  root->addLayout(row3);

  // Row 4: messages and the hand-over labels.
  auto* row4 = new QHBoxLayout;
  msg_lb_ = new QLabel;
  msg_lb_->setObjectName(QStringLiteral("msg1_lb"));
  busy_lb_ = new QLabel;
  busy_lb_->setObjectName(QStringLiteral("busy_flag_lb"));
  busy_lb_->setFixedWidth(40);
  // Hand-over from the backtest window: a yyyymmdd here ends the chart on that day instead of
  // today (a trade's exit day); typing a code by hand forgets it.
  end_date_lb_ = new QLabel;
  end_date_lb_->setObjectName(QStringLiteral("end_date_lb"));
  end_date_lb_->hide();
  graph_mode_lb_ = new QLabel;
  graph_mode_lb_->setObjectName(QStringLiteral("graph_mode1"));
  graph_mode_lb_->hide();
  graph_modecnt_lb_ = new QLabel;
  graph_modecnt_lb_->setObjectName(QStringLiteral("graph_modecnt1"));
  graph_modecnt_lb_->hide();
  auto* image2 = new QLabel;
  image2->setObjectName(QStringLiteral("Image2"));
  // Hidden folder and file lists; the stepping buttons show the year's code files in
  // data_m_file1.
  for (const char* name : {"crt_dir1", "crt_file1", "data_m_file1", "data_d_file1"}) {
    auto* list = new QListWidget(this);
    list->setObjectName(QLatin1String(name));
    list->hide();
    if (std::string_view(name) == "data_m_file1") data_m_file_ = list;
  }
  row4->addWidget(msg_lb_, 1);
  row4->addWidget(busy_lb_);
  row4->addWidget(end_date_lb_);
  row4->addWidget(graph_mode_lb_);
  row4->addWidget(graph_modecnt_lb_);
  row4->addWidget(image2);
  root->addLayout(row4);

  // The panes share the height left in proportion to their original heights and give way
  // on a small screen rather than push the newest bars off it.
  for (int p = 0; p < kPaneCount; ++p) {
    const int twips = kPaneHeightTwips[static_cast<std::size_t>(p)];
    panes_[p] = new ChartPane(this, p);
    panes_[p]->setMinimumSize(400, std::max(24, twips / kTwipsPerPixel / 4));
    panes_[p]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    root->addWidget(panes_[p], twips);
  }

  // Events.
  connect(code_txt_, &QLineEdit::textChanged, this, [this] { on_code_changed(); });
  connect(code_txt_, &QLineEdit::textEdited, end_date_lb_, &QLabel::clear);
  connect(name_txt_, &QLineEdit::returnPressed, this, [this] { search_cmd_->setFocus(); });
  connect(search_cmd_, &QPushButton::clicked, this, [this] { on_search(); });
  connect(kessan_cmd_, &QPushButton::clicked, this, [this] { show_disclosures(); });
  connect(disp_cmd, &QPushButton::clicked, this, [this] {
    if (!disp_ready_) return;
    reset_reference();
    redraw_chart();
  });
  for (QCheckBox* c :
       {rousoku_chk_, dekidaka_chk_, hiritu_chk_, ma_chk_, rsi_chk_, bol_chk_, ma_dif_chk_,
        macd_chk_, stoch_chk_, rci_chk_, ichimoku_chk_, bb_chk_, vma_chk_, topix_chk_}) {
    connect(c, &QCheckBox::clicked, this, [this] { request_redraw(); });
  }
  connect(ashi_cmb_, &QComboBox::currentTextChanged, this, [this] { request_redraw(); });
  for (QComboBox* c : {ma_cmb_[0], ma_cmb_[1], rsi_cmb_}) {
    connect(c, &QComboBox::currentTextChanged, this, [this] { request_redraw(); });
  }
  connect(bol_cmb_, &QComboBox::currentTextChanged, this, [this] {
    if (bol_chk_->isChecked()) request_redraw();
  });
  connect(kikan_cmb_, &QComboBox::currentTextChanged, this, [this] { on_period_changed(); });
  connect(alg2_chk_, &QCheckBox::clicked, this, [this] { on_alg2(); });
  connect(link_cmb_, &QComboBox::activated, this, [this](int index) { on_link(index); });
  connect(step_cmd_[0], &QPushButton::clicked, this, [this] { on_step(StepDirection::kDown); });
  connect(step_cmd_[1], &QPushButton::clicked, this, [this] { on_step(StepDirection::kUp); });
  connect(step_cmd_[2], &QPushButton::clicked, this, [this] { on_forward(); });
  connect(step_cmd_[3], &QPushButton::clicked, this, [this] { on_back(); });
}

void ChartWindow::start_up() {
  disp_ready_ = false;
  const Platform& platform = WindowHub::instance().platform();
  folders_ = read_settei_sub(platform.documents_folder, platform.desktop_folder);
  // The preferences are read without yielding: the window is still being created and an
  // event handled now could ask the hub for this very window.
  ChartPrefs prefs = chart_defaults();
  read_chart_prefs(folders_.app_folder + "init.txt", prefs);
  apply_prefs(prefs);

  link_cmb_->addItem(QStringLiteral("リンク集"));
  for (const std::string& name : link_names(read_links(folders_.app_folder + "cmd.txt"))) {
    link_cmb_->addItem(qs(name));
  }
  link_cmb_->setCurrentIndex(0);
  clear_grid_rows();

  auto tint = [](QComboBox* c, int color) {
    QPalette pal = c->palette();
    pal.setColor(QPalette::Text, palette_color(color));
    c->setPalette(pal);
    if (c->lineEdit()) c->lineEdit()->setPalette(pal);
  };
  tint(ma_cmb_[0], kLightGreen);
  tint(ma_cmb_[1], kLightMagenta);

  // Candles, volume and averages are on at every start whatever the preferences say.
  rousoku_chk_->setChecked(true);
  dekidaka_chk_->setChecked(true);
  ma_chk_->setChecked(true);

  portfolio_file_ = folders_.user_folder + "ptf1.csv";
  history_.clear();
  update_history_buttons();

  code_txt_->setText(QStringLiteral("0"));
  graph_mode_lb_->setText(QStringLiteral("100"));
  disp_ready_ = true;
  code_txt_->setText(QStringLiteral("1301"));
  started_ = true;
}

void ChartWindow::apply_prefs(const ChartPrefs& prefs) {
  rousoku_chk_->setChecked(prefs.candles);
  dekidaka_chk_->setChecked(prefs.volume);
  hiritu_chk_->setChecked(prefs.ratio);
  ma_dif_chk_->setChecked(prefs.alg1);
  ma_chk_->setChecked(prefs.ma);
  rsi_chk_->setChecked(prefs.rsi);
  bol_chk_->setChecked(prefs.bands);
  if (prefs.code) {
    code_txt_->setText(qs(*prefs.code));
    reset_reference();
  }
  set_combo(kikan_cmb_, prefs.period);
  set_combo(ma_cmb_[0], prefs.ma1);
  set_combo(ma_cmb_[1], prefs.ma2);
  set_combo(rsi_cmb_, prefs.rsi_period);
  set_combo(bol_cmb_, prefs.band_period);
  set_combo(ashi_cmb_, prefs.bar_unit);
  const IndicatorSwitches& on = prefs.indicators;
  macd_chk_->setChecked(on.macd);
  stoch_chk_->setChecked(on.stoch);
  rci_chk_->setChecked(on.rci);
  ichimoku_chk_->setChecked(on.ichimoku);
  bb_chk_->setChecked(on.bb);
  vma_chk_->setChecked(on.vma);
  params_ = prefs.params;
}

ChartOptions ChartWindow::read_options() const {
  auto num = [](const QString& t) { return static_cast<int>(parse_integer(ss(t.trimmed()))); };
  ChartOptions o;
  o.period = period_days(ss(kikan_cmb_->currentText()));
  o.candles = rousoku_chk_->isChecked();
  o.volume = dekidaka_chk_->isChecked();
  o.ratio = hiritu_chk_->isChecked();
  o.ma = ma_chk_->isChecked();
  o.rsi = rsi_chk_->isChecked();
  o.bands = bol_chk_->isChecked();
  o.alg1 = ma_dif_chk_->isChecked();
  o.alg2 = alg2_chk_->isChecked();
  o.ma1 = num(ma_cmb_[0]->currentText());
  o.ma2 = num(ma_cmb_[1]->currentText());
  o.rsi_period = num(rsi_cmb_->currentText());
  o.band_period = num(bol_cmb_->currentText());
  o.reference_on = refer_chk_->isChecked();
  o.reference = parse_number(ss(refer_txt_->text()));
  parse_bar_period(ss(ashi_cmb_->currentText()), o.bar_period);
  o.indicators = {macd_chk_->isChecked(),     stoch_chk_->isChecked(), rci_chk_->isChecked(),
                  ichimoku_chk_->isChecked(), bb_chk_->isChecked(),    vma_chk_->isChecked()};
  o.params = params_;
  o.topix = topix_chk_->isChecked();
  return o;
}

void ChartWindow::lay_out_panes(const PaneLayout& panes) {
  bool changed = false;
  for (int p = 0; p < kPaneCount; ++p) {
    const bool shown = panes.shown[static_cast<std::size_t>(p)];
    if (panes_[p]->isVisibleTo(this) != shown) changed = true;
    panes_[p]->setVisible(shown);
  }
  // The shown panes share the window's height; the window itself keeps its size.
  if (changed && QWidget::layout()) QWidget::layout()->activate();
}

void ChartWindow::redraw_chart() {
  disp_ready_ = false;
  busy_lb_->setText(QStringLiteral("busy"));

  const ChartOptions options = read_options();
  *scene_ = ChartScene{};
  scene_->options = options;
  scene_->layout = layout_panes({options.candles, options.ma, options.volume, options.rsi,
                                 options.alg1, options.alg2, options.indicators.macd,
                                 options.indicators.stoch, options.indicators.rci});
  lay_out_panes(scene_->layout);
  cross_bar_ = 0;
  for (ChartPane* p : panes_) p->update();

  const Platform& platform = WindowHub::instance().platform();
  const std::string end_date = ss(end_date_lb_->text().trimmed());
  const std::string today = end_date.empty() ? today_yyyymmdd(platform) : end_date;
  const std::string code = ss(code_txt_->text().trimmed());
  SeriesSource src = SeriesSource::from(folders_, started_ ? platform.yield : YieldFn{});
  Series series;
  // A new stock or day starts from the period's days; the whole history once a zoom asked.
  if (code != loaded_code_ || today != loaded_end_) whole_history_ = false;
  const int wanted =
      whole_history_ ? kWholeHistoryDays : load_day_count(options.period, options.bar_period);
  const int rc = load_series(src, today, wanted, code, series, true);
  Bars bars = rc == 0 ? bars_from_series(series) : Bars{};
  loaded_code_ = code;
  loaded_end_ = today;
  index_days_ = Bars{};
  events_ = rc == 0 ? load_chart_events(src, code, today, &bars) : std::vector<ChartEvent>{};
  trend_lines_ = read_trend_lines(trend_lines_path(folders_.user_folder, code));
  if (options.topix && rc == 0 && !folders_.reference_code.empty()) {
    Series index;
    if (load_series(src, today, wanted, folders_.reference_code, index, true) == 0)
      index_days_ = bars_from_series(index);
  }

  if (bars.count == 0) {
    name_txt_->clear();
    set_code_color(kLightRed);
    msg_lb_->setStyleSheet(QStringLiteral("color: %1;").arg(color_css(kLightRed)));
    msg_lb_->setText(QStringLiteral("データがありません。"));
    clear_grid_rows();
  } else {
    set_code_color(kLightBlue);
    msg_lb_->setStyleSheet(QStringLiteral("color: %1;").arg(color_css(kLightBlue)));
    msg_lb_->clear();
    history_.loaded(code);
    update_history_buttons();
    name_txt_->setText(qs(bars.name));
    // The valuation at the newest traded close, as of the newest day drawn.
    shown_date_ = static_cast<int>(parse_integer(bars.date[1]));
    kessan_lb_->clear();
    for (int i = 1; i <= bars.count; ++i) {
      if (!bars.traded(i)) continue;
      // The prices drawn are on the basis of every correction of the years loaded: the
      // per-share figures are put on the same basis, or a later split skews every ratio.
      kessan_lb_->setText(qs(fins::valuation_line(src, code, shown_date_, bars.close_at(i),
                                                  fins::load_basis(shown_date_))));
      kessan_lb_->setToolTip(kessan_lb_->text());
      break;
    }
    days_ = std::move(bars);
    rebuild_scene();
    fill_grids();
  }
  for (ChartPane* p : panes_) p->update();

  disp_ready_ = true;
  busy_lb_->clear();
}

void ChartWindow::rebuild_scene() {
  *scene_ = build_scene(days_, read_options());
  scene_->events = place_events(scene_->bars, events_, scene_->options.bar_period);
  scene_->trend_lines = trend_lines_;
  if (scene_->options.topix && index_days_.count > 0) set_index_days(*scene_, index_days_);
}

QString ChartWindow::event_text_at(int pane, double x, double y, double width,
                                   double height) const {
  if (pane != kPricePane || width <= 0 || height <= 0) return {};
  // Within four pixels of the mark's bar.
  const EventMark* m = event_at(*scene_, x / width * kLogicalSize, y / height * kLogicalSize,
                                4.0 / width * kLogicalSize);
  return m ? qs(m->text) : QString();
}

void ChartWindow::update_panes() {
  for (ChartPane* p : panes_) p->update();
}

void ChartWindow::load_days(int day_count) {
  const Platform& platform = WindowHub::instance().platform();
  SeriesSource src = SeriesSource::from(folders_);
  Series series;
  if (load_series(src, loaded_end_, day_count, loaded_code_, series, true) != 0) return;
  days_ = bars_from_series(series);
  if (scene_->options.topix && !folders_.reference_code.empty()) {
    Series index;
    if (load_series(src, loaded_end_, day_count, folders_.reference_code, index, true) == 0)
      index_days_ = bars_from_series(index);
  }
  (void)platform;
}

void ChartWindow::zoom_at(int pane, double x, double width, double factor) {
  ChartScene& s = *scene_;
  if (!s.loaded || width <= 0 || pane < 0 || pane >= kPaneCount) return;
  const int anchor = s.pane[static_cast<std::size_t>(pane)].index_at(x / width * kLogicalSize);
  const int wanted = static_cast<int>(std::lround(s.n * factor));
  // Zooming out past the loaded bars loads the whole history held, once.
  if (factor > 1 && wanted > s.bars.count && !whole_history_) {
    whole_history_ = true;
    const int first = s.first, n = s.n;
    load_days(kWholeHistoryDays);
    rebuild_scene();
    apply_view(*scene_, first, n);
  }
  zoom_view(*scene_, factor, anchor);
  update_panes();
}

namespace {

// The bar and the price under a device point of the price pane; false outside the bars.
bool bar_and_price(const ChartScene& s, double x, double y, double width, double height, int& bar,
                   double& price) {
  if (!s.loaded || width <= 0 || height <= 0 || s.price_range_empty) return false;
  const PaneGeometry& g = s.pane[kPricePane];
  bar = g.index_at(x / width * kLogicalSize);
  // To the hundredth, as the file keeps it, so the line reads back as it was drawn.
  price =
      parse_number(format_decimal(std::round(g.value_at(y / height * kLogicalSize) * 100) / 100));
  return s.bars.in_range(bar) && price > 0;
}

}  // namespace

void ChartWindow::start_trend_line(double x, double y, double width, double height) {
  int bar = 0;
  double price = 0;
  drawing_line_ = bar_and_price(*scene_, x, y, width, height, bar, price);
  if (!drawing_line_) return;
  pending_line_ = {scene_->bars.date[static_cast<std::size_t>(bar)], price, {}, 0};
}

void ChartWindow::end_trend_line(double x, double y, double width, double height) {
  if (!drawing_line_) return;
  drawing_line_ = false;
  int bar = 0;
  double price = 0;
  if (!bar_and_price(*scene_, x, y, width, height, bar, price)) return;
  TrendLine line = pending_line_;
  line.date2 = scene_->bars.date[static_cast<std::size_t>(bar)];
  line.price2 = price;
  if (line.date2 == line.date1) return;  // a click, not a line
  if (line.date2 < line.date1) {
    std::swap(line.date1, line.date2);
    std::swap(line.price1, line.price2);
  }
  trend_lines_.push_back(line);
  if (!write_trend_lines(trend_lines_path(folders_.user_folder, loaded_code_), trend_lines_)) {
    msg_lb_->setStyleSheet(QStringLiteral("color: %1;").arg(color_css(kLightRed)));
    msg_lb_->setText(QStringLiteral("トレンドラインを保存できません。"));
  }
  scene_->trend_lines = trend_lines_;
  update_panes();
}

bool ChartWindow::delete_trend_line_at(double x, double y, double width, double height) {
  if (width <= 0 || height <= 0) return false;
  // Within six pixels of the line.
  const int i = nearest_segment(trend_segments(*scene_), x / width * kLogicalSize,
                                y / height * kLogicalSize, 6.0 / width * kLogicalSize);
  if (i < 0) return false;
  trend_lines_.erase(trend_lines_.begin() + i);
  write_trend_lines(trend_lines_path(folders_.user_folder, loaded_code_), trend_lines_);
  scene_->trend_lines = trend_lines_;
  update_panes();
  return true;
}

void ChartWindow::show_first(int first) {
  if (!scene_->loaded) return;
  apply_view(*scene_, first, scene_->n);
  update_panes();
}

void ChartWindow::pan_bars(int bars) {
  show_first(scene_->first + bars);
}

void ChartWindow::reset_view() {
  if (!scene_->loaded) return;
  apply_view(*scene_, 1, clamp_period(scene_->options.period));
  update_panes();
}

bool ChartWindow::view_key(int key) {
  const ChartScene& s = *scene_;
  const int step = std::max(1, s.n / 10);
  switch (key) {
    case Qt::Key_Left:
      pan_bars(step);  // older bars come in from the left
      return true;
    case Qt::Key_Right:
      pan_bars(-step);
      return true;
    case Qt::Key_Home:
      show_first(view_limits(s).max_first);
      return true;
    case Qt::Key_End:
      show_first(view_limits(s).min_first);
      return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      zoom_at(kPricePane, 0.99 * panes_[kPricePane]->width(), panes_[kPricePane]->width(), 0.8);
      return true;
    case Qt::Key_Minus:
      zoom_at(kPricePane, 0.99 * panes_[kPricePane]->width(), panes_[kPricePane]->width(), 1.25);
      return true;
    default:
      return false;
  }
}

void ChartWindow::keyPressEvent(QKeyEvent* event) {
  if (!view_key(event->key())) QWidget::keyPressEvent(event);
}

void ChartWindow::crosshair_at(int pane, double x, double y, double width, double height) {
  const ChartScene& s = *scene_;
  if (!s.loaded || width <= 0 || height <= 0 || pane < 0 || pane >= kPaneCount) return;
  const PaneGeometry& g = s.pane[static_cast<std::size_t>(pane)];
  const int bar = g.index_at(x / width * kLogicalSize);
  if (bar < s.first || bar > s.last) {
    hide_crosshair();
    return;
  }
  cross_bar_ = bar;
  cross_pane_ = pane;
  cross_value_ = g.value_at(y / height * kLogicalSize);
  update_panes();
}

void ChartWindow::hide_crosshair() {
  if (cross_bar_ == 0) return;
  cross_bar_ = 0;
  cross_pane_ = -1;
  update_panes();
}

QString ChartWindow::crosshair_text(int pane) const {
  if (cross_bar_ == 0) return {};
  return qs(pane_readout(*scene_, pane, cross_bar_));
}

void ChartWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // A size the caller chose is kept; the window's own default is fitted to the screen.
  if (testAttribute(Qt::WA_Resized)) return;
  // Opened within the screen it is on, however large the panes would like to be.
  const QScreen* sc = screen();
  if (!sc) return;
  const QRect avail = sc->availableGeometry();
  const QSize want(std::min(width(), avail.width()), std::min(height(), avail.height()));
  if (want != size()) resize(want);
  const QRect frame = frameGeometry();
  if (!avail.contains(frame)) {
    move(std::clamp(x(), avail.left(), std::max(avail.left(), avail.right() - frame.width())),
         std::clamp(y(), avail.top(), std::max(avail.top(), avail.bottom() - frame.height())));
  }
}

void ChartWindow::show_disclosures() {
  const std::string code = ss(code_txt_->text().trimmed());
  auto* dialog = new QDialog(this);
  dialog->setObjectName(QStringLiteral("kessan_frm"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("決算　%1 %2").arg(qs(code), name_txt_->text()));
  const auto& captions = fins::disclosure_captions();
  auto* grid = new QTableWidget(0, static_cast<int>(captions.size()), dialog);
  grid->setObjectName(QStringLiteral("kessan_grid"));
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->verticalHeader()->hide();
  QStringList heads;
  for (const char* c : captions) heads << QString::fromUtf8(c);
  grid->setHorizontalHeaderLabels(heads);
  const SeriesSource src = SeriesSource::from(folders_);
  for (const fins::DisclosureListRow& row :
       fins::disclosure_list(src, code, shown_date_, fins::load_basis(shown_date_))) {
    const int at = grid->rowCount();
    grid->insertRow(at);
    if (!row.split.empty()) {
      // A split between two disclosures: the rows below it were on the old basis as served.
      auto* item = new QTableWidgetItem(qs(row.split));
      item->setForeground(QColor(200, 0, 0));
      grid->setItem(at, 0, item);
      grid->setSpan(at, 0, 1, static_cast<int>(captions.size()));
      continue;
    }
    const fins::DisclosureRow& r = row.row;
    int c = 0;
    for (const std::string* f :
         {&r.date, &r.period, &r.sales, &r.op, &r.np, &r.eps, &r.f_eps, &r.bps, &r.div, &r.f_div}) {
      auto* item = new QTableWidgetItem(qs(*f));
      item->setTextAlignment(Qt::AlignVCenter | (c < 2 ? Qt::AlignLeft : Qt::AlignRight));
      grid->setItem(at, c++, item);
    }
  }
  grid->resizeColumnsToContents();
  auto* note = new QLabel(grid->rowCount() == 0 ? QStringLiteral("決算データがありません。")
                                                : kessan_lb_->text());
  note->setObjectName(QStringLiteral("kessan_msg_lb"));
  auto* lay = new QVBoxLayout(dialog);
  lay->addWidget(note);
  lay->addWidget(grid);
  dialog->resize(std::min(1100, grid->horizontalHeader()->length() + 40), 360);
  dialog->show();
}

void ChartWindow::set_code_color(int palette) {
  code_txt_->setStyleSheet(QStringLiteral("color: %1;").arg(color_css(palette)));
}

void ChartWindow::request_redraw() {
  if (disp_ready_) redraw_chart();
}

void ChartWindow::on_code_changed() {
  // A code that arrives while the window is not ready is not drawn, and shows so.
  if (!is_valid_code_text(ss(code_txt_->text())) || !disp_ready_) {
    set_code_color(kLightRed);
    return;
  }
  set_code_color(kBlack);
  redraw_chart();
}

void ChartWindow::on_period_changed() {
  if (const auto clamped = clamp_period_text(ss(kikan_cmb_->currentText()))) {
    // The corrected text comes back through this handler and redraws.
    kikan_cmb_->setEditText(qs(*clamped));
    return;
  }
  request_redraw();
}

void ChartWindow::reset_reference() {
  refer_chk_->setChecked(false);
  refer_txt_->setText(QStringLiteral("1000"));
}

// ---------------------------------------------------------------- grids

void ChartWindow::set_row(QTableWidget* grid, const std::vector<GridCell>& cells) {
  for (int c = 0; c < grid->columnCount(); ++c) {
    QTableWidgetItem* item = grid->item(1, c);
    const bool has = static_cast<std::size_t>(c) < cells.size();
    item->setText(has ? qs(cells[static_cast<std::size_t>(c)].text) : QString());
    item->setForeground(palette_color(has ? cells[static_cast<std::size_t>(c)].color : kBlack));
    const bool centred = grid == grid2_ && c <= 2;
    item->setTextAlignment(centred ? Qt::AlignCenter : (Qt::AlignRight | Qt::AlignVCenter));
  }
}

void ChartWindow::clear_grid_rows() {
  set_row(grid1_, {});
  set_row(grid2_, {});
}

void ChartWindow::fill_grids() {
  set_row(grid2_, newest_day_summary(scene_->bars));
  set_row(grid1_, newest_day_row(scene_->bars));
}

void ChartWindow::mouse_over_pane(int pane, double x, double width) {
  const ChartScene& s = *scene_;
  if (!s.loaded || width <= 0 || pane < 0 || pane >= kPaneCount) return;
  // The left margin reaches the loaded days older than the shown ones; outside the loaded
  // days there is nothing to read.
  const int day = s.pane[static_cast<std::size_t>(pane)].index_at(x / width * kLogicalSize);
  if (!s.bars.in_range(day)) return;
  set_row(grid1_, day_readout(s.bars, day));
}

void ChartWindow::copy_selection(QTableWidget* grid) {
  const QList<QTableWidgetSelectionRange> ranges = grid->selectedRanges();
  if (ranges.isEmpty()) return;
  const QTableWidgetSelectionRange& r = ranges.front();
  std::vector<std::vector<std::string>> rows;
  for (int row = r.topRow(); row <= r.bottomRow(); ++row) {
    std::vector<std::string> cells;
    for (int c = r.leftColumn(); c <= r.rightColumn(); ++c) {
      const QTableWidgetItem* item = grid->item(row, c);
      cells.push_back(item ? ss(item->text()) : std::string());
    }
    rows.push_back(std::move(cells));
  }
  QClipboard* clip = QGuiApplication::clipboard();
  clip->clear();
  clip->setText(qs(clipboard_text(selection_text(rows))));
}

bool ChartWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type t = event->type();
  if (watched == code_txt_ && (t == QEvent::MouseButtonPress || t == QEvent::KeyPress)) {
    reset_reference();
  } else if (t == QEvent::MouseButtonRelease) {
    if (watched == grid1_->viewport()) copy_selection(grid1_);
    if (watched == grid2_->viewport()) copy_selection(grid2_);
    if (watched == image1_ && !folders_.hp_url.empty()) open_url_(QString(), qs(folders_.hp_url));
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- stepping, history, links

void ChartWindow::on_step(StepDirection direction) {
  if (!disp_ready_) return;
  reset_reference();
  const Platform& platform = WindowHub::instance().platform();
  const std::optional<int> year = stepping_year(folders_.db_folder, today_yyyymmdd(platform));
  if (!year) return;
  const std::vector<std::string> codes = code_files_of_year(folders_.db_folder, *year);
  data_m_file_->clear();
  for (const std::string& c : codes) data_m_file_->addItem(qs(c + ".csv"));
  const std::string code = step_code(codes, ss(code_txt_->text()), direction);
  if (!code.empty()) code_txt_->setText(qs(code));
}

void ChartWindow::on_back() {
  if (!disp_ready_) return;
  const std::optional<std::string> code = history_.back();
  update_history_buttons();
  if (code) code_txt_->setText(qs(*code));
}

void ChartWindow::on_forward() {
  if (!disp_ready_) return;
  const std::optional<std::string> code = history_.forward();
  update_history_buttons();
  if (code) code_txt_->setText(qs(*code));
}

void ChartWindow::update_history_buttons() {
  step_cmd_[3]->setEnabled(history_.can_back());
  step_cmd_[2]->setEnabled(history_.can_forward());
}

void ChartWindow::on_link(int index) {
  if (index <= 0 || !disp_ready_) return;
  const std::optional<std::string> address = find_link_address(
      folders_.app_folder + "cmd.txt", ss(link_cmb_->itemText(index)), ss(code_txt_->text()));
  if (!address) return;
  open_url_(wopen_chk_->isChecked() ? QStringLiteral("x-www-browser") : QString(), qs(*address));
}

void ChartWindow::on_search() {
  if (name_txt_->text().trimmed().isEmpty()) return;
  QWidget* search = WindowHub::instance().show_window(QStringLiteral("m_kensaku_frm"));
  if (!search) return;
  if (auto* flag = gui::control<QLabel>(search, "flg_lb")) {
    flag->setText(QStringLiteral("start"));
  } else if (auto* flag_edit = gui::control<QLineEdit>(search, "flg_lb")) {
    flag_edit->setText(QStringLiteral("start"));
  }
}

void ChartWindow::on_alg2() {
  alg2_chk_->setChecked(false);
  alg2_chk_->setEnabled(false);
  msg_lb_->setStyleSheet(QStringLiteral("color: %1;").arg(color_css(kLightBlue)));
  msg_lb_->setText(QStringLiteral("korinuさん、すみません。この機能は開発中です。"));
}

void ChartWindow::closeEvent(QCloseEvent* event) {
  if (QWidget* search = WindowHub::instance().window(QStringLiteral("m_kensaku_frm"), false)) {
    search->close();
  }
  QWidget::closeEvent(event);
}

LP_REGISTER_WINDOW("graph", [] { return new ChartWindow; });

}  // namespace lp::chart
