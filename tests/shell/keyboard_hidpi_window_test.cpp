// The main window for a keyboard user and at a device pixel ratio of 2 (ctest runs these tests
// once more with QT_SCALE_FACTOR=2).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <memory>

#include "shell/main_window.h"
#include "shell/window_hub_gui.h"
#include "support/fixtures.h"
#include "support/gui_checks.h"

namespace lp::gui {
namespace {

namespace fs = std::filesystem;

struct MainSession {
  test::TempDir dir;
  MainSession() {
    const std::string install = dir.str() + "/install";
    for (const char* t : {"cmd.txt", "init.txt", "settei.txt"}) {
      test::write_bytes(fs::path(install) / t, std::string(t) + "\r\nEOF\r\n");
    }
    Platform p;
    p.documents_folder = dir.str() + "/docs";
    fs::create_directories(p.documents_folder);
    p.desktop_folder = dir.str() + "/desktop";
    p.install_folder = install;
    p.today = [] { return std::string("20130315"); };
    p.yield = [] { QCoreApplication::processEvents(); };
    WindowHub::instance().set_platform(p);
    window = std::make_unique<MainWindow>();
    window->open_url = [](const QUrl&) { return true; };
    window->http_get = [](const HttpRequest&) { return HttpResponse{}; };
  }
  QPushButton* button(const char* name) {
    return window->findChild<QPushButton*>(QLatin1String(name));
  }
  std::unique_ptr<MainWindow> window;
};

TEST(MainWindowKeyboard, TabGoesThroughEveryControlInReadingOrder) {
  MainSession s;
  ASSERT_TRUE(test::show_active(s.window.get()));
  const auto cycle = test::tab_cycle(s.button("meigara_sel2_cmd"));
  QStringList names;
  for (QWidget* w : cycle) names << w->objectName();
  // The commands row by row as they are laid out, then each year list before its button; of
  // the host options Tab reaches the chosen one (the arrow keys move among them).
  const QStringList want = {
      "meigara_sel2_cmd", "graph_cmd",     "portforio_cmd", "download_cmd", "vup1_cmd",
      "end_cmd",          "kanshi_cmd",    "yyyy_dl_cmb",   "yyyy_dl_cmd",  "yyyy_delet_cmb",
      "yyyy_del_cmd",     "yyyy_cmb",      "see_data_cmd",  "url_opt_0",    "jquants_plan_cmb",
      "jquants_key_cmd",  "csv_import_cmd"};
  EXPECT_EQ(names, want);
  // Every button of the window is among them (中止 of a sync takes focus only while it runs).
  for (QPushButton* b : s.window->findChildren<QPushButton*>()) {
    if (!b->isEnabled()) continue;
    EXPECT_TRUE(names.contains(b->objectName())) << b->objectName().toStdString();
  }
}

TEST(MainWindowKeyboard, EnterAndSpacePressTheFocusedButton) {
  MainSession s;
  ASSERT_TRUE(test::show_active(s.window.get()));
  const Qt::Key keys[] = {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter};
  for (QPushButton* b : s.window->findChildren<QPushButton*>()) {
    if (!b->isEnabled()) continue;
    // Only the key handling is under test here: what each command does is tested elsewhere.
    QObject::disconnect(b, &QAbstractButton::clicked, nullptr, nullptr);
    QSignalSpy clicked(b, &QAbstractButton::clicked);
    for (Qt::Key key : keys) {
      b->setFocus(Qt::TabFocusReason);
      ASSERT_EQ(QApplication::focusWidget(), b) << b->objectName().toStdString();
      const int before = static_cast<int>(clicked.count());
      QTest::keyClick(b, key);
      EXPECT_EQ(clicked.count(), before + 1)
          << b->objectName().toStdString() << " key " << static_cast<int>(key);
    }
  }
}

TEST(MainWindowHiDpi, CaptionsFitAndThePictureIsDrawnAtTheScreensDensity) {
  MainSession s;
  ASSERT_TRUE(test::show_active(s.window.get()));
  const qreal ratio = test::save_snapshot(s.window.get(), QStringLiteral("main_window"));
  // The run really is at the scale it asked for, or this test would prove nothing at 2.
  EXPECT_DOUBLE_EQ(ratio, test::requested_scale());
  EXPECT_EQ(test::clipped_captions(s.window.get()), QStringList());
  auto* picture = s.window->findChild<QLabel*>(QStringLiteral("Image1"));
  ASSERT_NE(picture, nullptr);
  // A picture drawn at ratio 1 is blown up and blurred on a ratio-2 screen.
  EXPECT_DOUBLE_EQ(picture->pixmap().devicePixelRatio(), ratio);
  EXPECT_EQ(picture->pixmap().deviceIndependentSize().toSize(), QSize(420, 64));
}

TEST(MainWindowHiDpi, TheCaptionCheckSeesACutOffCaption) {
  // The check above is only worth something if it notices a caption that does not fit.
  QWidget box;
  auto* natural = new QPushButton(QStringLiteral("ポートフォリオ"), &box);
  natural->setObjectName(QStringLiteral("natural"));
  natural->adjustSize();
  auto* narrow = new QPushButton(QStringLiteral("ポートフォリオ"), &box);
  narrow->setObjectName(QStringLiteral("narrow"));
  narrow->setGeometry(0, 40, 40, 30);
  box.show();
  const QStringList clipped = test::clipped_captions(&box);
  ASSERT_EQ(clipped.size(), 1) << clipped.join(QStringLiteral("; ")).toStdString();
  EXPECT_TRUE(clipped[0].startsWith(QStringLiteral("narrow"))) << clipped[0].toStdString();
}

}  // namespace
}  // namespace lp::gui
