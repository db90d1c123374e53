#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <thread>

#include "host/msgbox/x_message_box_testing.h"

namespace wavrel::msgbox {
namespace {

using testing::LoadXMessageBox;
using testing::MakeRecord;

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
  bool modal = false;  ///< blocks the application's other windows
};

/// Waits (on the GUI thread) for a message box to appear, notes what it
/// shows and clicks the button with the given text.
void ClickWhenShown(const QString& buttonText, SeenBox* seen) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [=] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible()) continue;
      seen->title = box->windowTitle();
      seen->text = box->text();
      seen->icon = box->icon();
      seen->modal = box->isModal();
      for (QAbstractButton* button : box->buttons()) seen->buttons << button->text();
      for (QAbstractButton* button : box->buttons()) {
        if (button->text() == buttonText) {
          timer->stop();
          timer->deleteLater();
          button->click();
          return;
        }
      }
    }
  });
  timer->start();
}

class XMessageBoxQtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "x_message_box_qt_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
  }
};

TEST_F(XMessageBoxQtTest, GuiThreadShowsAModalBoxWithTheRecordsCaptions) {
  const XMessageBoxFn box = LoadXMessageBox();
  ASSERT_NE(box, nullptr);
  auto record = MakeRecord(u"确定", u"取消");

  SeenBox seen;
  ClickWhenShown(QStringLiteral("取消"), &seen);
  EXPECT_EQ(box(nullptr, u"Some files are not QCP.", u"提示", 49, record.data()), 2);
  EXPECT_EQ(seen.title, QStringLiteral("提示"));
  EXPECT_EQ(seen.text, QStringLiteral("Some files are not QCP."));
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.buttons.size(), 2);
  EXPECT_TRUE(seen.buttons.contains(QStringLiteral("确定")));

  SeenBox again;
  ClickWhenShown(QStringLiteral("确定"), &again);
  EXPECT_EQ(box(nullptr, u"Convert?", u"提示", 49, record.data()), 1);

  // No record: Qt's own captions; a report has a single OK.
  SeenBox report;
  ClickWhenShown(QStringLiteral("OK"), &report);
  EXPECT_EQ(box(nullptr, u"Cannot create the WAV file.", nullptr, 48, nullptr), 1);
  EXPECT_EQ(report.buttons, QStringList{QStringLiteral("OK")});
}

TEST_F(XMessageBoxQtTest, WorkerThreadBoxIsShownOnTheGuiThreadAndWaitsForTheAnswer) {
  const XMessageBoxFn box = LoadXMessageBox();
  ASSERT_NE(box, nullptr);
  auto record = MakeRecord(u"Accept", u"Decline");

  for (const auto& [click, expected] : {std::pair{"Decline", 2}, std::pair{"Accept", 1}}) {
    SeenBox seen;
    ClickWhenShown(QString::fromUtf8(click), &seen);
    QEventLoop loop;
    std::atomic<std::int32_t> result{-1};
    std::thread worker([&] {
      result = box(nullptr, u"From the worker", u"Note", 49, record.data());
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    EXPECT_EQ(result.load(), expected) << click;
    EXPECT_EQ(seen.text, QStringLiteral("From the worker"));
    EXPECT_FALSE(seen.modal);  // the waiting worker's dialog still takes Cancel and close
  }
}

TEST_F(XMessageBoxQtTest, WorkerBoxIsWithdrawnWhenTheGuiThreadWaitsForTheWorker) {
  const XMessageBoxFn box = LoadXMessageBox();
  ASSERT_NE(box, nullptr);
  // The GUI thread joins the worker without serving events, as a cancel
  // does: the worker's box must not hang both threads.
  std::int32_t result = -1;
  std::thread worker([&] { result = box(nullptr, u"Cannot create", u"Note", 48, nullptr); });
  worker.join();
  EXPECT_EQ(result, 2);
  // The withdrawn request shows nothing when the GUI thread comes back.
  QCoreApplication::processEvents();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible());
  }
}

}  // namespace
}  // namespace wavrel::msgbox
