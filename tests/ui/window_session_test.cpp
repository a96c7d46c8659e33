// START and the worker: the session runs on a thread of its own, each of its calls is carried
// out on the window's thread in order while the worker waits, Enter starts only while START
// is enabled, and a window closed during a session neither waits for it nor is touched by it.
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "window_fixture.h"

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;

// A gate a scripted session waits at until the test opens it.
class Gate {
  public:
    void open() {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    bool waitOpen(std::chrono::milliseconds limit = 5000ms) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, limit, [this] { return open_; });
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// Spins the window's event loop until `done` or a few seconds have passed.
bool waitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 5000);
}

struct Observed {
    std::string what;
    bool onWindowThread;
    int callsReturned;  // how many of the session's calls had returned at that moment
};

TEST_F(WindowTest, StartRunsTheSessionOnAWorkerAndItsCallsArriveInOrderOnTheWindowsThread) {
    std::atomic<int> returned{0};
    std::atomic<bool> sessionOnWindowThread{true};
    std::atomic<bool> finished{false};
    SessionFields seen;
    session = [&](SessionHost& host) {
        sessionOnWindowThread = QThread::currentThread() == qApp->thread();
        host.readFields(&seen);
        ++returned;
        host.setStatus("");
        ++returned;
        host.setProgressRange(300);
        ++returned;
        host.setProgressPosition(10);
        ++returned;
        host.setStatus("Firmware download in progress.");
        ++returned;
        host.setProgressPosition(300);
        ++returned;
        host.setStatus("Download succeeded.");
        ++returned;
        host.enableStart();
        ++returned;
        finished = true;
    };
    createShown();
    noFirmware()->setChecked(true);
    rate()->setEditText("9600");

    std::vector<Observed> observed;
    auto record = [&](const std::string& what) {
        observed.push_back({what, QThread::currentThread() == qApp->thread(), returned.load()});
    };
    QObject::connect(status(), &QLineEdit::textChanged,
                     [&](const QString& t) { record("status " + t.toStdString()); });
    QObject::connect(progress(), &QProgressBar::valueChanged,
                     [&](int v) { record("position " + std::to_string(v)); });
    struct EnableWatch : QObject {
        std::function<void()> onEnabled;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::EnabledChange && static_cast<QWidget*>(o)->isEnabled())
                onEnabled();
            return false;
        }
    } watch;
    watch.onEnabled = [&] { record("start enabled"); };
    start()->installEventFilter(&watch);
    status()->setText("from the last session");
    observed.clear();

    QTest::mouseClick(start(), Qt::LeftButton);
    EXPECT_FALSE(start()->isEnabled());  // at once, before the session has run
    ASSERT_TRUE(waitFor([&] { return finished.load(); }));

    EXPECT_FALSE(sessionOnWindowThread);
    EXPECT_STREQ(seen.portName, "COM1");
    EXPECT_STREQ(seen.rateText, "9600");
    EXPECT_FALSE(seen.usb);
    EXPECT_TRUE(seen.noFirmware);
    EXPECT_STREQ(seen.firmwareName, "");

    // Each effect happened while its call was still waiting: the count of returned calls
    // is the number of calls before it.
    const std::vector<std::string> order = {"status ",
                                            "position 10",
                                            "status Firmware download in progress.",
                                            "position 300",
                                            "status Download succeeded.",
                                            "start enabled"};
    const std::vector<int> callsBefore = {1, 3, 4, 5, 6, 7};
    ASSERT_EQ(observed.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(observed[i].what, order[i]);
        EXPECT_TRUE(observed[i].onWindowThread) << order[i];
        EXPECT_EQ(observed[i].callsReturned, callsBefore[i]) << order[i];
    }
    EXPECT_EQ(progress()->maximum(), 300);
    EXPECT_TRUE(start()->isEnabled());
    EXPECT_EQ(status()->text(), "Download succeeded.");
}

TEST_F(WindowTest, EnterStartsOnlyWhileStartIsEnabled) {
    std::atomic<int> runs{0}, finished{0};
    Gate gate;
    session = [&](SessionHost& host) {
        SessionFields f;
        host.readFields(&f);
        ++runs;
        gate.waitOpen();
        host.enableStart();
        ++finished;
    };
    createShown();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return runs.load() == 1; }));
    EXPECT_FALSE(start()->isEnabled());

    // While the session runs, Enter does nothing, from whichever control.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(rate()->lineEdit(), Qt::Key_Enter);
    QTest::qWait(100);
    EXPECT_EQ(runs.load(), 1);

    gate.open();
    ASSERT_TRUE(waitFor([&] { return start()->isEnabled(); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return runs.load() == 2; }));
    EXPECT_TRUE(waitFor([&] { return finished.load() == 2; }));
}

TEST_F(WindowTest, EnterInThePortFieldStartsWithoutRefreshingTheUsbOption) {
    lookups = std::make_unique<FixedUsbPortLookups>("COM5", nullptr);
    std::atomic<bool> read{false}, finished{false};
    SessionFields seen;
    session = [&](SessionHost& host) {
        host.readFields(&seen);
        read = true;
        host.enableStart();
        finished = true;
    };
    createShown();
    port()->setFocus();
    port()->lineEdit()->selectAll();
    QTest::keyClicks(port()->lineEdit(), "COM5");
    QTest::keyClick(port()->lineEdit(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return read.load(); }));
    EXPECT_STREQ(seen.portName, "COM5");
    EXPECT_FALSE(seen.usb);         // the field never lost the focus
    EXPECT_EQ(port()->count(), 9);  // Enter adds nothing to the list

    // Clicking START moves the focus first, so the option is refreshed before the session.
    ASSERT_TRUE(waitFor([&] { return finished.load(); }));
    read = finished = false;
    port()->setFocus();
    QTest::mouseClick(start(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return finished.load(); }));
    EXPECT_TRUE(seen.usb);
}

TEST_F(WindowTest, ClosingDuringASessionEndsAtOnceAndLaterReportsDoNothing) {
    Gate reachedGate, gate;
    std::atomic<bool> finished{false};
    session = [&](SessionHost& host) {
        SessionFields f;
        host.readFields(&f);
        host.setStatus("running");
        reachedGate.open();
        gate.waitOpen();
        // The window is gone by now: these must neither block nor reach it.
        host.setStatus("after the end");
        host.setProgressRange(10);
        host.setProgressPosition(5);
        host.readFields(&f);
        host.enableStart();
        finished = true;
    };
    createShown();
    QTest::mouseClick(start(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return status()->text() == "running"; }));
    ASSERT_TRUE(reachedGate.waitOpen());

    const auto before = std::chrono::steady_clock::now();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);  // no waiting for the session
    EXPECT_EQ(exitCodes, std::vector<int>({2}));

    window.reset();  // destroyed, as the process would be
    gate.open();
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!finished && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);  // no event loop runs: nothing could serve a call
    EXPECT_TRUE(finished);
}

TEST_F(WindowTest, ACallWaitingWhenTheWindowClosesIsReleasedWithoutEffect) {
    Gate gate;
    std::atomic<bool> fieldsRead{false}, posted{false}, finished{false};
    session = [&](SessionHost& host) {
        SessionFields f;
        host.readFields(&f);
        fieldsRead = true;
        gate.waitOpen();
        posted = true;
        host.setStatus("too late");  // queued to the window, which is busy closing
        finished = true;
    };
    createShown();
    QTest::mouseClick(start(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return fieldsRead.load(); }));
    gate.open();
    // Without running the event loop, give the worker time to queue its call and wait.
    while (!posted)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(finished);
    window->close();
    EXPECT_TRUE(waitFor([&] { return finished.load(); }));
    QCoreApplication::processEvents();  // the queued call finds the window detached
    EXPECT_EQ(status()->text(), "");
}

TEST_F(WindowTest, TheProgressBarKeepsItsSixteenBitRangeAndThePositionWithinIt) {
    create();
    window->setProgressRange(70000);
    EXPECT_EQ(progress()->maximum(), 70000 - 65536);
    window->setProgressRange(300);
    window->setProgressPosition(500);
    EXPECT_EQ(progress()->value(), 300);
    window->setProgressPosition(-4);
    EXPECT_EQ(progress()->value(), 0);
    // An image without records: 0..0, shown as an empty bar rather than a busy one.
    window->setProgressRange(0);
    window->setProgressPosition(0);
    EXPECT_NE(progress()->maximum(), progress()->minimum());
    EXPECT_EQ(progress()->value(), 0);
    window->setProgressRange(-1);
    EXPECT_EQ(progress()->maximum(), 65535);
}

TEST_F(WindowTest, TheStatusLineShowsTheBeginningOfALongText) {
    create();
    const std::string text = "ERROR: " + std::string(250, 'x');
    window->setStatus(text.c_str());
    EXPECT_EQ(status()->text().toStdString(), text);
    EXPECT_EQ(status()->cursorPosition(), 0);
}

}  // namespace
}  // namespace kestrel::test
