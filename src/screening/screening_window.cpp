#include "screening/screening_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>
#include <map>

#include "pricedb/sectors.h"
#include "screening/formula/formula_step.h"
#include "screening/rankings_window.h"
#include "screening/saved_screens.h"
#include "screening/universe.h"
#include "shell/window_hub_gui.h"

namespace lp::gui {

using lp::screening::Control;
using lp::screening::ControlKind;
using lp::screening::TextColor;

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

QString indexed_name(const char* name, int i) {
  return QStringLiteral("%1_%2").arg(name).arg(i);
}

// Layout of a criterion row: captions and control names in order. A control name is written as
// in the control set ("gcdc_txt(0)"); captions of boxes and option buttons follow "=".
const std::map<int, std::vector<const char*>>& row_layouts() {
  static const std::map<int, std::vector<const char*>> rows = {
      {1, {"株価 ", "kabukamin", "～", "kabukamax", "円"}},
      {2, {"yasune1_kikan_cmb", "日最安値日", "yasune1_kikan_txt", "日以内"}},
      {3,
       {"yasune2_kikan_cmb", "日最安値からの値上率", "yasune2_ageritsu1_txt", "％", "～",
        "yasune2_ageritsu2_txt", "％"}},
      {4,
       {"nehaba1_kikan_cmb", "日値幅に対する現在値", "nehaba1_ageritsu1_txt", "～",
        "nehaba1_ageritsu2_txt", "％"}},
      {5,
       {"nehaba2_kikan_cmb", "日値幅に対する現在値", "nehaba2_ageritsu1_txt", "～",
        "nehaba2_ageritsu2_txt", "％"}},
      {6,
       {"nehaba3_kikan_txt", "日の値幅率", "nehaba3_nehabaritsu1_txt", "～",
        "nehaba3_nehabaritsu2_txt", "％", "nehaba3_p_chk=+", "nehaba3_m_chk=ｰ"}},
      {7, {"前日比率", "zenjituhi1_txt(0)", "～", "zenjituhi1_txt(1)", "％"}},
      {8,
       {"gcdc_txt(0)", "日以内に MA1", "gcdc_txt(1)", "日 MA2", "gcdc_txt(2)", "日",
        "gc_dc_opt(0)=GC", "gc_dc_opt(1)=DC"}},
      {9, {"std_dev1_cmb", "日 偏差", "dev1_txt(0)", "～", "dev1_txt(1)", "σ"}},
      {10, {"rsi1_kikan_cmb", "日 RSI", "rsi1_min_txt", "～", "rsi1_max_txt"}},
      {12,
       {"SEMI ALG", "semi1_kikan_txt", "日", "semi1_min_txt", "＜", "k1_opt=ΣK", "u1_opt=ΣU", "＜",
        "semi1_max_txt"}},
      {13, {"kairi3_cmb", "日 乖離率", "kairi3_min_txt", "～", "kairi3_max_txt", "％"}},
      {18, {"MA", "kairi2_txt(0)", "日 と", "kairi2_txt(1)", "日 のGC", "kairi2_txt(2)", "日以内"}},
      {40, {"MA1", "kairi1_cmb(0)", "日 MA2", "kairi1_cmb(1)", "日 移動平均差"}},
  };
  return rows;
}

QString color_css(TextColor c) {
  switch (c) {
    case TextColor::blue:
      return QStringLiteral("color: rgb(0, 0, 255);");
    case TextColor::red:
      return QStringLiteral("color: rgb(255, 0, 0);");
    case TextColor::black:
      break;
  }
  return QStringLiteral("color: rgb(0, 0, 0);");
}

}  // namespace

QString ScreeningWindow::description(int i) {
  static const std::map<int, std::vector<const char*>> texts = {
      {0,
       {"１．株価による銘柄検索", "　現在値が下限値A円と上限値B円の間の銘柄を選択", "　する。",
        "    A　<=　株価　<=　B"}},
      {1,
       {"２．最安値日による銘柄検索", "　過去Ａ日間の最安値日が過去Ｂ日間にある場合に",
        "　選択する。", "　A=250日、B=1日にすると、過去250日間の最安値が",
        "　当日に記録された銘柄を選択する｡"}},
      {2,
       {"３．最安値からの値上率による銘柄検索", "　過去Ａ日間の最安値に対しての現在値の値上",
        "　率がＢ％～Ｃ％の銘柄を選択する。", "　値上率=100 * (現在値- 最安値) / 最安値）",
        "  Ｂ％＜値上率＜Ｃ％"}},
      {3,
       {"４．値幅と現在値1による銘柄検索", "　過去Ａ日間における最高値と最安値の値幅を",
        "　100％として、現在値がＢ％以上、Ｃ％以下で", "　ある銘柄を選択する。",
        "　現在値100分率=100 * (現在値- 最安値)/値幅", "　値幅=（最高値-最安値）",
        "  Ｂ％＜値幅率＜Ｃ％"}},
      {4,
       {"５．値幅と現在値による銘柄検索", "　過去Ａ日間における最高値と最安値の値幅を",
        "　100％として、現在値がＢ％以上、Ｃ％以下で", "　ある銘柄を選択する。",
        "　現在値100分率=100 * (現在値- 最安値)/値幅", "　値幅=（最高値-最安値）",
        "  Ｂ％＜値幅率＜Ｃ％"}},
      {5,
       {"６．値幅率による銘柄選択", "　　値幅率=100 * (最高値- 最安値） / 現在値）",
        "　　＋チェック：最安値日が最高値日より以前にある場合",
        "　　－チェック：最高値日が最安値日より以前にある場合"}},
      {6, {"７．前日比率による銘柄選択", "　　前日比率=100 * (現在値- 前日終値） / 現在値）"}},
      {7,
       {"８．ゴールデンクロス（ＧＣ）デッドクロス（ＤＣ）に", "　　よる銘柄選択",
        "　　ＭＡ１：Ｂ日間単純移動平均", "　　ＭＡ２：Ｃ日間単純移動平均",
        "　　ゴールデンクロス：過去Ａ日間にＭＡ１がＭＡ２を",
        "　　　　　　　　　　　下から上に交差する",
        "　　デッドクロス　　：過去Ａ日間にＭＡ１がＭＡ２を",
        "　　　　　　　　　　　上から下に交差する"}},
      {8,
       {"９．ボリンジャーバンドによる銘柄選択", "　　ＭＡ１：過去Ａ日間の単純平均",
        "　　分散：(１／Ａ)Σ{(終値－ＭＡ１)**２}", "　　標準偏差：ＳＱＲＴ（分散）",
        "　　Ｂ　＜＝　標準偏差　＜＝　Ｃ"}},
      {9, {"１０．ＲＳＩによる銘柄選択", "　　Ｂ　＜＝　過去Ａ日間のＲＳＩ　＜＝　Ｃ"}},
      {10, {"１１．"}},
      {11, {"１２．"}},
      {12, {"１３．"}},
      {39,
       {"４０．移動平均差による銘柄選択", "　　MA1、MA2により計算されます。",
        "　　銘柄選択アルゴリズムはNORDHAVEN独自手法によります。"}},
  };
  auto it = texts.find(i);
  if (it == texts.end()) return {};
  QStringList lines;
  for (const char* l : it->second) lines << QString::fromUtf8(l);
  return lines.join(QStringLiteral("\r\n"));
}

ScreeningWindow::ScreeningWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("meigarasel2"));
  setWindowTitle(QStringLiteral("銘柄選択 -  ルーメンピック　- NORDHAVEN -"));
  session_ =
      std::make_unique<lp::screening::ScreeningSession>(WindowHub::instance().platform(), this);
  build();
  market_guard_ = false;
  show_page(0);
  session_->load();
  refresh_screens();
  market_guard_ = true;
}

ScreeningWindow::~ScreeningWindow() = default;

void ScreeningWindow::build() {
  auto* root = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  date_ = new QLabel(this);
  date_->setObjectName(QStringLiteral("hiduke1_lb"));
  date_->setStyleSheet(color_css(TextColor::blue));
  top->addWidget(date_);
  top->addStretch();
  auto* page_group = new QButtonGroup(this);
  const char* page_captions[] = {"１", "２", "３", "４", "５", "式", "指標"};
  for (int i = 0; i < kPages; ++i) {
    auto* b = new QRadioButton(QString::fromUtf8(page_captions[i]), this);
    b->setObjectName(indexed_name("Option2", i));
    b->setChecked(i == 0);
    page_group->addButton(b, i);
    connect(b, &QRadioButton::clicked, this, [this, i] { show_page(i); });
    top->addWidget(b);
  }
  auto* logo = new QLabel(QStringLiteral("NORDHAVEN"), this);
  logo->setObjectName(QStringLiteral("ci_img1"));
  logo->setCursor(Qt::PointingHandCursor);
  logo->installEventFilter(this);
  top->addWidget(logo);
  root->addLayout(top);

  for (int p = 0; p < kPages; ++p) root->addWidget(build_page(p));

  auto* markets = new QHBoxLayout;
  const char* market_captions[] = {"東証１", "東証２", "ﾏｻﾞｰｽﾞ", "大証", "JQ", "その他", "ａｌｌ"};
  for (int i = 0; i < 7; ++i) {
    auto* c = new QCheckBox(QString::fromUtf8(market_captions[i]), this);
    c->setObjectName(indexed_name("shijyou_chk", i));
    markets_[i] = c;
    if (i < 5) {
      QStringList names;
      for (std::string_view n : screening::market_box_segments(i)) {
        names << QString::fromUtf8(n.data(), static_cast<qsizetype>(n.size()));
      }
      c->setToolTip(names.join(QStringLiteral("、")));
    } else if (i == 5) {
      c->setToolTip(QStringLiteral("左の五つにない市場"));
    }
    connect(c, &QCheckBox::clicked, this, [this, i] { market_clicked(i); });
    markets->addWidget(c);
  }
  markets->addStretch();
  root->addLayout(markets);
  // Today's segments are not among the captions: say plainly which box counts each, from the
  // same table the filter uses.
  QStringList joined;
  for (const char* segment : {"プライム", "スタンダード", "グロース"}) {
    const int box = screening::market_box_of(segment);
    joined << QString::fromUtf8(segment) + QStringLiteral("は") +
                  QString::fromUtf8(market_captions[box]);
  }
  auto* market_note =
      new QLabel(QStringLiteral("※ 今の市場区分は ") + joined.join(QStringLiteral("、")) +
                     QStringLiteral(" の枠に含めて数えます。"),
                 this);
  market_note->setObjectName(QStringLiteral("shijyou_note_lb"));
  market_note->setWordWrap(true);
  root->addWidget(market_note);

  // Saved screens: the whole state of the window under a name.
  auto* saved = new QHBoxLayout;
  saved->addWidget(new QLabel(QStringLiteral("保存条件"), this));
  screens_ = new QComboBox(this);
  screens_->setObjectName(QStringLiteral("hozon_cmb"));
  screens_->setEditable(true);
  screens_->setMinimumWidth(200);
  screens_->setInsertPolicy(QComboBox::NoInsert);
  saved->addWidget(screens_);
  const char* saved_names[] = {"yomikomi_cmd", "hozon_cmd", "sakujo_cmd"};
  const char* saved_captions[] = {"読込", "保存", "削除"};
  for (int k = 0; k < 3; ++k) {
    auto* b = new QPushButton(QString::fromUtf8(saved_captions[k]), this);
    b->setObjectName(QString::fromLatin1(saved_names[k]));
    screen_buttons_[k] = b;
    saved->addWidget(b);
  }
  connect(static_cast<QPushButton*>(screen_buttons_[0]), &QPushButton::clicked, this,
          &ScreeningWindow::load_screen);
  connect(static_cast<QPushButton*>(screen_buttons_[1]), &QPushButton::clicked, this,
          &ScreeningWindow::save_screen);
  connect(static_cast<QPushButton*>(screen_buttons_[2]), &QPushButton::clicked, this,
          &ScreeningWindow::delete_screen);
  // A watched screen runs by itself after every update of the database; 対象 limits a screen
  // to a portfolio's holdings or to codes.
  watch_box_ = new QCheckBox(QStringLiteral("監視"), this);
  watch_box_->setObjectName(QStringLiteral("kanshi_chk"));
  watch_box_->setToolTip(QStringLiteral("データ更新のたびにこの保存条件を自動で実行します"));
  saved->addWidget(watch_box_);
  saved->addWidget(new QLabel(QStringLiteral("対象"), this));
  universe_ = new QLineEdit(this);
  universe_->setObjectName(QStringLiteral("taishou_txt"));
  universe_->setPlaceholderText(QStringLiteral("全銘柄（ptf1 または 7203,6758）"));
  universe_->setMinimumWidth(220);
  saved->addWidget(universe_);
  connect(watch_box_, &QCheckBox::clicked, this, &ScreeningWindow::watch_clicked);
  saved->addStretch();
  root->addLayout(saved);
  confirm_ = [this](const QString& text) {
    return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
  };

  auto* buttons = new QHBoxLayout;
  msg_ = new QLabel(this);
  msg_->setObjectName(QStringLiteral("msg1_lb"));
  msg_->setMinimumWidth(360);
  buttons->addWidget(msg_, 1);
  auto* ma = new QPushButton(QStringLiteral("MA差"), this);
  ma->setObjectName(QStringLiteral("Command2"));
  connect(ma, &QPushButton::clicked, this, &ScreeningWindow::preset_ma_gap_run);
  start_ = new QPushButton(QStringLiteral("開始"), this);
  start_->setObjectName(QStringLiteral("select_cal1_cmd"));
  connect(start_, &QPushButton::clicked, this, &ScreeningWindow::start_run);
  // The backtest of the current settings; its dialog lives with the backtest windows.
  kensho_ = new QPushButton(QStringLiteral("検証"), this);
  kensho_->setObjectName(QStringLiteral("kensho_cmd"));
  connect(kensho_, &QPushButton::clicked, this, &ScreeningWindow::start_backtest);
  stop_ = new QPushButton(QStringLiteral("閉じる"), this);
  stop_->setObjectName(QStringLiteral("stop_cmd"));
  connect(stop_, &QPushButton::clicked, this, &QWidget::close);
  // Enter presses the focused button; anywhere else in the window it presses 開始.
  for (QPushButton* b : {ma, start_, kensho_, stop_}) b->setAutoDefault(true);
  start_->setDefault(true);
  buttons->addWidget(ma);
  buttons->addWidget(start_);
  buttons->addWidget(kensho_);
  buttons->addWidget(stop_);
  root->addLayout(buttons);

  // A label the universe step clears; it has no place of its own on the pages.
  auto* gc = new QLabel(this);
  gc->setObjectName(QStringLiteral("gc1_lb_0"));
  gc->hide();
}

QWidget* ScreeningWindow::build_page(int page) {
  const char* titles[] = {"選択条件設定１", "選択条件設定２", "選択条件設定３",
                          "選択条件設定４", "選択条件設定５", "式", "指標"};
  auto* box = new QGroupBox(QString::fromUtf8(titles[page]), this);
  box->setObjectName(indexed_name("settei_frm1", page));
  pages_[page] = box;
  auto* grid = new QVBoxLayout(box);
  grid->setSpacing(2);
  if (page < 4) {
    for (int n = page * 10 + 1; n <= page * 10 + 10; ++n) grid->addWidget(build_row(n));
  } else if (page == 5) {
    auto* help =
        new QLabel(QStringLiteral("例: C > MA(C,25) AND RSI(14) < 30　（O H L C V、C[1]は1日前、"
                                  "MA EMA MAX MIN SUM STD RSI REF CROSS ABS DAYS）"),
                   box);
    help->setObjectName(QStringLiteral("shiki_help_lb"));
    grid->addWidget(help);
    for (int n = lp::screening::kFirstFormulaRow; n <= lp::screening::kLastFormulaRow; ++n)
      grid->addWidget(build_formula_row(n));
  } else if (page == 6) {
    build_indicator_page(box);
  } else {
    // The candlestick-pattern page: its result label, emptied with the count labels.
    auto* sakata = new QLabel(box);
    sakata->setObjectName(QStringLiteral("sakata1_lb_0"));
    sakata->setStyleSheet(color_css(TextColor::blue));
    grid->addWidget(sakata);
  }
  grid->addStretch();
  return box;
}

QLabel* ScreeningWindow::begin_row(QWidget* row, QHBoxLayout* h, int n) {
  h->setContentsMargins(0, 0, 0, 0);
  auto* chk = new QCheckBox(row);
  chk->setObjectName(indexed_name("pr_chk", n));
  h->addWidget(chk);
  auto* num = new QLabel(QString::number(n), row);
  num->setObjectName(indexed_name("num1_lb", n - 1));
  num->setFixedWidth(24);
  h->addWidget(num);
  return num;
}

QRadioButton* ScreeningWindow::end_row(QWidget* row, QHBoxLayout* h, int n) {
  auto* result = new QLabel(row);
  result->setObjectName(indexed_name("result1_lb", n));
  result->setFixedWidth(90);
  result->setStyleSheet(color_css(TextColor::blue));
  result_[n] = result;
  h->addWidget(result);
  auto* opt = new QRadioButton(row);
  opt->setObjectName(indexed_name("Option1", n));
  opt->setAutoExclusive(false);
  opt->hide();
  option1_[n] = opt;
  connect(opt, &QRadioButton::clicked, this, [this, n] {
    pull_controls();
    session_->option_click(n);
  });
  h->addWidget(opt);
  return opt;
}

QWidget* ScreeningWindow::build_row(int n) {
  auto* row = new QWidget(this);
  auto* h = new QHBoxLayout(row);
  QLabel* num = begin_row(row, h, n);
  num->setCursor(Qt::PointingHandCursor);
  num->installEventFilter(this);

  auto* params = new QHBoxLayout;
  auto it = row_layouts().find(n);
  if (it != row_layouts().end()) {
    std::map<std::string, QButtonGroup*> groups;
    for (const char* item : it->second) {
      std::string entry(item);
      std::string caption;
      const auto eq = entry.find('=');
      if (eq != std::string::npos) {
        caption = entry.substr(eq + 1);
        entry = entry.substr(0, eq);
      }
      const Control* c = session_->controls().find(entry);
      if (!c) {
        params->addWidget(new QLabel(q(entry), row));
        continue;
      }
      const QString object = q(lp::screening::object_name_of(c->name));
      QWidget* w = nullptr;
      switch (c->kind) {
        case ControlKind::text: {
          auto* e = new QLineEdit(row);
          e->setFixedWidth(56);
          w = e;
          break;
        }
        case ControlKind::combo: {
          auto* cb = new QComboBox(row);
          cb->setEditable(true);
          cb->setFixedWidth(70);
          w = cb;
          break;
        }
        case ControlKind::check:
          w = new QCheckBox(q(caption), row);
          break;
        case ControlKind::option: {
          auto* r = new QRadioButton(q(caption), row);
          auto& g = groups[c->group];
          if (!g) {
            g = new QButtonGroup(row);
            g->setExclusive(true);
          }
          g->addButton(r);
          w = r;
          break;
        }
      }
      w->setObjectName(object);
      params->addWidget(w);
    }
  } else if (n == 21) {
    // The ranking button Option1(21) at the end of this row shows the ranking chosen here.
    ranking_ = new lp::screening::RankingPicker(row);
    params->addWidget(ranking_);
  } else if (n < static_cast<int>(session_->criterion_names().size()) && n <= 13) {
    params->addWidget(new QLabel(q(session_->criterion_names()[static_cast<std::size_t>(n)]), row));
  }
  params->addStretch();
  h->addLayout(params, 1);

  QRadioButton* opt = end_row(row, h, n);
  if (n == 21) opt->setToolTip(QStringLiteral("選択したランキングを表示"));
  return row;
}

QWidget* ScreeningWindow::build_formula_row(int n) {
  auto* row = new QWidget(this);
  auto* h = new QHBoxLayout(row);
  begin_row(row, h, n);
  auto* name = new QLineEdit(row);
  name->setObjectName(indexed_name("shiki_name_txt", n));
  name->setPlaceholderText(QStringLiteral("名前"));
  name->setFixedWidth(90);
  h->addWidget(name);
  auto* text = new QLineEdit(row);
  text->setObjectName(indexed_name("shiki_txt", n));
  text->setPlaceholderText(QStringLiteral("式"));
  text->setMinimumWidth(300);
  text->installEventFilter(this);
  h->addWidget(text, 1);
  h->addWidget(new QLabel(QStringLiteral("表示"), row));
  auto* show = new QLineEdit(row);
  show->setObjectName(indexed_name("shiki_hyouji_txt", n));
  show->setFixedWidth(150);
  show->installEventFilter(this);
  h->addWidget(show);

  QRadioButton* opt = end_row(row, h, n);
  // The row's name explains its count.
  QLabel* result = result_[n];
  connect(name, &QLineEdit::textChanged, result,
          [result](const QString& t) { result->setToolTip(t); });
  // The formula boxes keep their width whether or not the row has run.
  QSizePolicy keep = opt->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  opt->setSizePolicy(keep);
  return row;
}

void ScreeningWindow::check_formula_box(int n) {
  using lp::formula::Formula;
  using lp::formula::FormulaError;
  auto* text = findChild<QLineEdit*>(indexed_name("shiki_txt", n));
  auto* show = findChild<QLineEdit*>(indexed_name("shiki_hyouji_txt", n));
  std::string error;
  Formula f;
  FormulaError e;
  if (!text->text().trimmed().isEmpty() && !Formula::compile(text->text().toStdString(), f, e)) {
    error = "式" + std::to_string(n) + "の" + e.text();
  } else if (!show->text().trimmed().isEmpty() &&
             !Formula::compile(show->text().toStdString(), f, e)) {
    error = "式" + std::to_string(n) + "（表示）の" + e.text();
  }
  if (!error.empty()) {
    message(error, TextColor::red);
    formula_error_shown_ = true;
  } else if (formula_error_shown_) {
    message("", TextColor::black);
  }
}

QString ScreeningWindow::screen_name() const {
  return screens_->currentText().trimmed();
}

void ScreeningWindow::refresh_screens(const QString& select) {
  const QString keep = select.isEmpty() ? screens_->currentText() : select;
  screens_->clear();
  for (const auto& name : lp::screening::list_screens(session_->folders().user_folder))
    screens_->addItem(q(name));
  screens_->setEditText(keep);
}

void ScreeningWindow::load_screen() {
  if (session_->running()) return;
  std::string error;
  const std::string name = screen_name().toStdString();
  lp::screening::ScreenMarks marks;
  if (!lp::screening::load_screen(session_->folders().user_folder, name, session_->controls(),
                                  marks, error)) {
    message(error, TextColor::red);
    return;
  }
  push_controls();
  watch_box_->setChecked(marks.watched);
  universe_->setText(QString::fromStdString(marks.universe));
  message("保存条件「" + name + "」を読み込みました。", TextColor::blue);
}

void ScreeningWindow::save_screen() {
  if (session_->running()) return;
  pull_controls();
  const std::string name = screen_name().toStdString();
  // A screen that could not run is not stored.
  std::string error = lp::screening::check_formula_rows(session_->controls());
  lp::screening::ScreenMarks marks;
  std::string ignored;
  // Saving over a screen keeps the backtest dialog's settings stored with it.
  lp::screening::read_screen_marks(session_->folders().user_folder, name, marks, ignored);
  marks.watched = watch_box_->isChecked();
  marks.universe = universe_->text().toStdString();
  if (error.empty() && lp::screening::save_screen(session_->folders().user_folder, name,
                                                  session_->controls(), marks, error)) {
    refresh_screens(q(name));
    message("保存条件「" + name + "」を保存しました。", TextColor::blue);
    return;
  }
  message(error, TextColor::red);
}

void ScreeningWindow::watch_clicked() {
  // A stored screen takes the mark at once; a new one takes it when it is saved.
  const std::string name = screen_name().toStdString();
  const std::string user = session_->folders().user_folder;
  lp::screening::ScreenMarks marks;
  std::string error;
  if (!lp::screening::check_screen_name(name).empty() ||
      !lp::screening::read_screen_marks(user, name, marks, error)) {
    return;
  }
  marks.watched = watch_box_->isChecked();
  if (!lp::screening::write_screen_marks(user, name, marks, error)) {
    message(error, TextColor::red);
    return;
  }
  message("保存条件「" + name + (marks.watched ? "」を監視します。" : "」の監視をやめました。"),
          TextColor::blue);
}

bool ScreeningWindow::apply_universe() {
  const std::string text = universe_->text().toStdString();
  if (lp::screening::normal_universe(text).empty()) {
    session_->set_universe(std::nullopt);
    return true;
  }
  std::vector<std::string> codes;
  std::string error;
  if (!lp::screening::universe_codes(session_->folders().user_folder, text, codes, error)) {
    message(error, TextColor::red);
    return false;
  }
  session_->set_universe(std::move(codes));
  return true;
}

void ScreeningWindow::delete_screen() {
  if (session_->running()) return;
  const QString name = screen_name();
  if (!lp::screening::check_screen_name(name.toStdString()).empty()) return;
  if (!confirm_(QStringLiteral("保存条件「%1」を削除しますか？").arg(name))) return;
  std::string error;
  if (!lp::screening::delete_screen(session_->folders().user_folder, name.toStdString(), error)) {
    message(error, TextColor::red);
    return;
  }
  refresh_screens();
  screens_->setEditText(QString());
  message("保存条件「" + name.toStdString() + "」を削除しました。", TextColor::blue);
}

void ScreeningWindow::show_page(int i) {
  for (int p = 0; p < kPages; ++p) pages_[p]->setVisible(p == i);
}

void ScreeningWindow::build_indicator_page(QGroupBox* box) {
  auto* grid = static_cast<QVBoxLayout*>(box->layout());
  auto* body = new QHBoxLayout;
  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(6);
  fields->setVerticalSpacing(2);
  fields->addWidget(new QLabel(QStringLiteral("下限"), box), 0, 1);
  fields->addWidget(new QLabel(QStringLiteral("上限"), box), 0, 3);
  const auto& defs = lp::screening::indicator_fields();
  for (int i = 1; i <= lp::screening::kIndicatorFields; ++i) {
    auto* caption = new QLabel(QString::fromUtf8(defs[static_cast<std::size_t>(i - 1)].caption), box);
    fields->addWidget(caption, i, 0);
    for (const bool lower : {true, false}) {
      auto* e = new QLineEdit(box);
      e->setObjectName(q(lp::screening::object_name_of(lower ? lp::screening::indicator_min_control(i)
                                                             : lp::screening::indicator_max_control(i))));
      e->setFixedWidth(90);
      e->setAlignment(Qt::AlignRight);
      connect(e, &QLineEdit::textChanged, this, [this] { update_indicator_formula(); });
      fields->addWidget(e, i, lower ? 1 : 3);
    }
    fields->addWidget(new QLabel(QStringLiteral("～"), box), i, 2);
  }
  body->addLayout(fields);

  auto* sector_box = new QVBoxLayout;
  sector_box->addWidget(new QLabel(QStringLiteral("業種（33業種、チェックしたものだけ）"), box));
  sectors_ = new QListWidget(box);
  sectors_->setObjectName(QStringLiteral("gyoushu_lst"));
  for (const auto& industry : lp::sectors::industries33()) {
    auto* item = new QListWidgetItem(QString::fromUtf8(industry.name), sectors_);
    item->setData(Qt::UserRole, QString::fromLatin1(industry.code));
    item->setToolTip(QString::fromLatin1(industry.code));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  sectors_->setMinimumHeight(200);
  connect(sectors_, &QListWidget::itemChanged, this, [this] { sector_list_changed(); });
  sector_box->addWidget(sectors_);
  // The choice as codes: what is saved with the screen and what --sector sets.
  auto* codes = new QLineEdit(box);
  codes->setObjectName(QString::fromLatin1(lp::screening::kSectorControl));
  codes->setPlaceholderText(QStringLiteral("全業種"));
  codes->setToolTip(QStringLiteral("33業種のコードか名前をカンマ区切りで（空欄は全業種）"));
  connect(codes, &QLineEdit::textChanged, this, [this] { sector_list_from_text(); });
  sector_box->addWidget(codes);
  body->addLayout(sector_box, 1);
  grid->addLayout(body);

  auto* bottom = new QHBoxLayout;
  indicator_formula_ = new QLabel(box);
  indicator_formula_->setObjectName(QStringLiteral("shihyou_shiki_lb"));
  indicator_formula_->setWordWrap(true);
  indicator_formula_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  bottom->addWidget(indicator_formula_, 1);
  // The step's "kept/before" count, as a criterion row shows its own.
  indicator_result_ = new QLabel(box);
  indicator_result_->setObjectName(QStringLiteral("result1_lb_46"));
  indicator_result_->setStyleSheet(color_css(TextColor::blue));
  bottom->addWidget(indicator_result_);
  grid->addLayout(bottom);
  update_indicator_formula();
}

void ScreeningWindow::update_indicator_formula() {
  if (!indicator_formula_) return;
  // The page's boxes as the formula they mean; an error in red, as a formula row's.
  lp::screening::ControlSet set = lp::screening::ControlSet::with_builtins();
  for (int i = 1; i <= lp::screening::kIndicatorFields; ++i) {
    for (const bool lower : {true, false}) {
      const std::string name = lower ? lp::screening::indicator_min_control(i)
                                     : lp::screening::indicator_max_control(i);
      if (auto* e = findChild<QLineEdit*>(q(lp::screening::object_name_of(name))))
        set.set_text(name, e->text().toStdString());
    }
  }
  std::string formula, error;
  if (!lp::screening::indicator_formula(set, formula, error)) {
    indicator_formula_->setStyleSheet(color_css(TextColor::red));
    indicator_formula_->setText(q(error));
  } else {
    indicator_formula_->setStyleSheet(color_css(TextColor::blue));
    indicator_formula_->setText(formula.empty() ? QStringLiteral("式: （指定なし）")
                                                : QStringLiteral("式: ") + q(formula));
  }
}

void ScreeningWindow::sector_list_changed() {
  if (syncing_sectors_) return;
  QStringList codes;
  for (int k = 0; k < sectors_->count(); ++k) {
    if (sectors_->item(k)->checkState() == Qt::Checked)
      codes << sectors_->item(k)->data(Qt::UserRole).toString();
  }
  syncing_sectors_ = true;
  findChild<QLineEdit*>(QString::fromLatin1(lp::screening::kSectorControl))
      ->setText(codes.join(QLatin1Char(',')));
  syncing_sectors_ = false;
}

void ScreeningWindow::sector_list_from_text() {
  if (syncing_sectors_ || !sectors_) return;
  std::vector<std::string> codes;
  std::string error;
  lp::sectors::parse_sector_list(
      findChild<QLineEdit*>(QString::fromLatin1(lp::screening::kSectorControl))->text().toStdString(),
      codes, error);
  syncing_sectors_ = true;
  for (int k = 0; k < sectors_->count(); ++k) {
    const std::string code = sectors_->item(k)->data(Qt::UserRole).toString().toStdString();
    const bool on = std::binary_search(codes.begin(), codes.end(), code);
    sectors_->item(k)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
  syncing_sectors_ = false;
}

void ScreeningWindow::market_clicked(int i) {
  if (!market_guard_) {
    market_guard_ = true;
    return;
  }
  if (i == 6) {
    for (int k = 0; k < 6; ++k) markets_[k]->setChecked(markets_[6]->isChecked());
  } else if (markets_[6]->isChecked() && !markets_[i]->isChecked()) {
    // Unticking one segment also unticks "ａｌｌ" without spreading that to the others.
    markets_[6]->setChecked(false);
  }
}

bool ScreeningWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    const QString name = watched->objectName();
    const int under = static_cast<int>(name.lastIndexOf(QLatin1Char('_')));
    if (name.startsWith(QStringLiteral("shiki_"))) check_formula_box(name.mid(under + 1).toInt());
  }
  if (event->type() == QEvent::MouseButtonRelease) {
    const QString name = watched->objectName();
    if (name.startsWith(QStringLiteral("num1_lb_"))) {
      show_description(name.mid(8).toInt());
      return true;
    }
    if (name == QStringLiteral("ci_img1")) {
      QDesktopServices::openUrl(QUrl(q(session_->folders().hp_url)));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void ScreeningWindow::keyPressEvent(QKeyEvent* event) {
  // Only an Enter no control took reaches here (push buttons take their own): a focused option
  // button (a page, a row's ▽) is pressed, anywhere else 開始 is, as a dialog's default button.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* option = qobject_cast<QRadioButton*>(focusWidget())) {
      if (option->isEnabled()) option->click();
    } else if (start_->isEnabled() && start_->isVisible()) {
      start_->click();
    }
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void ScreeningWindow::show_description(int i) {
  const QString text = description(i);
  if (text.isEmpty()) return;
  if (!description_) {
    description_ = new QWidget(this, Qt::Window);
    description_->setObjectName(QStringLiteral("setumei_frm"));
    description_->setWindowTitle(QStringLiteral("説明"));
    auto* l = new QVBoxLayout(description_);
    auto* label = new QLabel(description_);
    label->setObjectName(QStringLiteral("setumei_lb"));
    l->addWidget(label);
  }
  description_->findChild<QLabel*>(QStringLiteral("setumei_lb"))->setText(text);
  description_->show();
  description_->raise();
}

void ScreeningWindow::pull_controls() {
  for (Control& c : session_->controls().all()) {
    QWidget* w = findChild<QWidget*>(q(lp::screening::object_name_of(c.name)));
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      c.text = e->text().toStdString();
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
      c.text = cb->currentText().toStdString();
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      c.checked = b->isChecked();
    }
  }
}

void ScreeningWindow::push_controls() {
  syncing_ = true;
  for (const Control& c : session_->controls().all()) {
    QWidget* w = findChild<QWidget*>(q(lp::screening::object_name_of(c.name)));
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      if (e->text() != q(c.text)) e->setText(q(c.text));
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
      QStringList items;
      for (const auto& it : c.items) items << q(it);
      QStringList now;
      for (int k = 0; k < cb->count(); ++k) now << cb->itemText(k);
      if (now != items) {
        cb->clear();
        cb->addItems(items);
      }
      cb->setEditText(q(c.text));
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      b->setChecked(c.checked);
    }
  }
  syncing_ = false;
}

void ScreeningWindow::set_controls_state(const QString& state) {
  if (state == QStringLiteral("disable")) {
    set_controls_enabled(false);
  } else if (state == QStringLiteral("enable")) {
    set_controls_enabled(true);
  }
}

void ScreeningWindow::start_run() {
  if (!session_->ready() || session_->running()) return;
  pull_controls();
  // A formula error stops the run with its message; fixing the box later clears it.
  formula_error_shown_ = !lp::screening::check_formula_rows(session_->controls()).empty();
  if (!apply_universe()) return;
  session_->run();
}

void ScreeningWindow::start_backtest() {
  if (!session_->ready() || session_->running()) return;
  pull_controls();
  WindowHub::instance().show_window(QStringLiteral("kensho_frm"));
}

void ScreeningWindow::preset_ma_gap_run() {
  if (!session_->ready() || session_->running()) return;
  findChild<QLineEdit*>(QStringLiteral("kairi2_txt_0"))->setText(QStringLiteral("65"));
  findChild<QLineEdit*>(QStringLiteral("kairi2_txt_1"))->setText(QStringLiteral("260"));
  // The preset fills the long-term cross's periods, so it ticks that criterion (18).
  findChild<QCheckBox*>(QStringLiteral("pr_chk_18"))->setChecked(true);
  yield();
  start_run();
}

void ScreeningWindow::closeEvent(QCloseEvent* event) {
  if (session_->running()) {
    session_->request_close();
    event->ignore();
    return;
  }
  if (description_) description_->close();
  event->accept();
}

void ScreeningWindow::message(const std::string& text, TextColor color) {
  msg_->setStyleSheet(color_css(color));
  msg_->setText(q(text));
}

void ScreeningWindow::date_label(const std::string& text) {
  date_->setText(q(text));
}

void ScreeningWindow::result_label(int n, const std::string& text) {
  if (n >= 1 && n <= lp::screening::kLastFormulaRow && result_[n]) result_[n]->setText(q(text));
  if (n == lp::screening::kIndicatorRow && indicator_result_) indicator_result_->setText(q(text));
}

void ScreeningWindow::clear_result_labels() {
  for (int n = 1; n <= 11; ++n) result_[n]->clear();
  if (indicator_result_) indicator_result_->clear();
  for (const char* name : {"sakata1_lb_0", "gc1_lb_0"}) {
    if (auto* l = findChild<QLabel*>(QString::fromLatin1(name))) l->clear();
  }
}

void ScreeningWindow::set_option_visible(int n, bool visible) {
  if (n >= 1 && n <= lp::screening::kLastFormulaRow && option1_[n])
    option1_[n]->setVisible(visible);
}

void ScreeningWindow::select_option(int n) {
  for (int k = 1; k <= lp::screening::kLastFormulaRow; ++k) {
    if (option1_[k]) option1_[k]->setChecked(k == n);
  }
}

void ScreeningWindow::controls_changed() {
  push_controls();
}

void ScreeningWindow::set_controls_enabled(bool enabled) {
  if (kensho_) kensho_->setEnabled(enabled);
  start_->setEnabled(enabled);
  stop_->setEnabled(enabled);
  for (auto* m : markets_) m->setEnabled(enabled);
  for (auto* p : pages_) p->setEnabled(enabled);
  screens_->setEnabled(enabled);
  for (auto* b : screen_buttons_) b->setEnabled(enabled);
}

void ScreeningWindow::show_results() {
  WindowHub& hub = WindowHub::instance();
  QWidget* results = hub.show_window(QStringLiteral("meigarasel_out_frm"));
  if (auto* flag = control<QLabel>(results, "startflag_lb")) flag->setText(QStringLiteral("start"));
}

void ScreeningWindow::close_window() {
  close();
}

std::string ScreeningWindow::selected_ranking() const {
  return ranking_ ? ranking_->selected() : std::string();
}

void ScreeningWindow::busy(bool on) {
  if (on) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}

void ScreeningWindow::yield() {
  yield_now(WindowHub::instance().platform().yield);
}

LP_REGISTER_WINDOW("meigarasel2", [] { return new ScreeningWindow; });

}  // namespace lp::gui
